#include "sdk/filesystem/FileSystemIterator.hpp"

#include "sdk/filesystem/DeletePermission.hpp"
#include "sdk/filesystem/FSIteratorError.hpp"

#include <cerrno>
#include <fts.h>
#include <sys/stat.h>
#include <unistd.h>

namespace sweepkit {

FileSystemIterator::FileSystemIterator(const velmor::URL& url, Options options, std::uint32_t user,
                                       std::vector<std::uint32_t> groups)
    : checkedDeletePermissionUser_(user), checkedDeletePermissionUserGroups_(std::move(groups)) {
    std::string path = url.path();
    if (path.empty()) {
        return;
    }
    rootPath_ = path;
    char* paths[] = {path.data(), nullptr};
    // Without FTS_NOCHDIR fts moves the process's working directory from folder to folder and
    // names entries relative to it, so two walks in one process would break each other.
    root_ = ::fts_open(paths, options.union_(Options::noChangeDirectory).rawValue, nullptr);
}

FileSystemIterator::~FileSystemIterator() {
    if (root_ != nullptr) {
        // glibc's fts_close frees the root entries only once fts_read has moved off its initial
        // state; a walk that was never read would leak them. The first read only hands out the root.
        if (!started_) {
            ::fts_read(root_);
        }
        ::fts_close(root_);
    }
}

std::optional<Event> FileSystemIterator::next() {
    if (root_ == nullptr || finished_) {
        return std::nullopt;
    }
    started_ = true;
    errno = 0;
    FTSENT* entry = ::fts_read(root_);
    if (entry == nullptr) {
        finished_ = true;
        // fts gives up when it cannot get back to a folder it left (one moved during the walk, say):
        // that walk is incomplete, which must not pass for its end.
        if (errno != 0) {
            return Event::error(rootPath_, velmor::Error::posix(errno));
        }
        return std::nullopt;
    }
    const std::uint32_t user = checkedDeletePermissionUser_;

    bool parentWritable = false;
    bool parentSticky = false;
    if (!parentDirectoryStack_.empty()) {
        parentWritable = parentDirectoryStack_.back().writePermission;
        parentSticky = parentDirectoryStack_.back().stickyBitSet;
    } else if (auto rootStat = velmor::Stat::statPath(std::string(entry->fts_path, entry->fts_pathlen))) {
        // The root has no parent on the stack: it is judged against itself.
        parentWritable = canWriteDirectory(*rootStat, user, checkedDeletePermissionUserGroups_);
        parentSticky = rootStat->st_mode & S_ISVTX;
    }
    const bool hasDeletePermission =
        mayDeleteEntry(parentWritable, parentSticky, user, entry->fts_statp->st_uid);

    auto popDirectory = [&] {
        if (!parentDirectoryStack_.empty() && parentDirectoryStack_.back().item == entry) {
            parentDirectoryStack_.pop_back();
        }
        // fts frees a finished directory's entry once it moves on: never hand it to fts_set later.
        if (currentItem_ == entry) {
            currentItem_ = nullptr;
        }
    };

    switch (entry->fts_info) {
    case FTS_DP:
        popDirectory();
        // A directory that could be listed but not searched comes back with its error set and no
        // entries: report it as unreadable instead of as an empty folder.
        if (entry->fts_errno != 0) {
            return Event::unreadableDirectory(std::string(entry->fts_path, entry->fts_pathlen),
                                              velmor::Error::posix(entry->fts_errno));
        }
        return Event::fromEntry(*entry, hasDeletePermission);
    case FTS_DNR:
        // fts entered this directory before it failed to read it; no FTS_DP follows.
        popDirectory();
        return Event::fromEntry(*entry, hasDeletePermission);
    case FTS_D: {
        velmor::Stat directory = velmor::Stat::fromLinux(*entry->fts_statp);
        Event event = Event::enterDirectory(std::string(entry->fts_path, entry->fts_pathlen), directory,
                                            hasDeletePermission);
        parentDirectoryStack_.push_back(
            {entry, canWriteDirectory(directory, user, checkedDeletePermissionUserGroups_),
             (directory.st_mode & S_ISVTX) != 0});
        currentItem_ = entry;
        return event;
    }
    default:
        return Event::fromEntry(*entry, hasDeletePermission);
    }
}

void FileSystemIterator::skip() {
    if (currentItem_ == nullptr) {
        throw velmor::TypedError<FSIteratorError>(FSIteratorError::nothingToSkip);
    }
    if (::fts_set(root_, currentItem_, FTS_SKIP) != 0) {
        velmor::throwPosixError(errno);
    }
    currentItem_ = nullptr;
}

std::vector<std::uint32_t> currentUserGroups() {
    int count = ::getgroups(0, nullptr);
    if (count < 0) {
        velmor::throwPosixError(errno, EINVAL);
    }
    // A process may have no supplementary groups at all: that is an empty list, not a failure.
    if (count == 0) {
        return {};
    }
    std::vector<gid_t> groups(static_cast<std::size_t>(count), 0);
    int read = ::getgroups(count, groups.data());
    if (read < 0) {
        velmor::throwPosixError(errno, EINVAL);
    }
    return std::vector<std::uint32_t>(groups.begin(), groups.end());
}

} // namespace sweepkit
