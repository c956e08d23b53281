#include "sdk/filesystem/FileSystemIterator.hpp"

#include "sdk/filesystem/DeletePermission.hpp"
#include "sdk/filesystem/FSIteratorError.hpp"

#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <fts.h>
#include <utility>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace sweepkit {

namespace {

// The fts kinds that come with a status record.
bool carriesRecord(int info) {
    switch (info) {
    case FTS_D:
    case FTS_DEFAULT:
    case FTS_DOT:
    case FTS_DP:
    case FTS_F:
    case FTS_SL:
    case FTS_SLNONE:
        return true;
    default:
        return false;
    }
}

} // namespace

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
    Options walkOptions = options.union_(Options::noChangeDirectory);
    // Without a working directory to follow, fts would look up every entry's whole path; a physical
    // walk reads the records itself, each relative to its open folder (fts then keeps none at all).
    readsRecords_ = options.contains(Options::physical) && !options.contains(Options::logical);
    followsRoot_ = options.contains(Options::commandLineFollow);
    seesDots_ = options.contains(Options::seeDot);
    if (readsRecords_) {
        walkOptions.formUnion(Options(FTS_NOSTAT));
    }
    root_ = ::fts_open(paths, walkOptions.rawValue, nullptr);
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

bool FileSystemIterator::readRecord(const FTSENT& entry, velmor::Stat& record,
                                    velmor::Descriptor* descriptor) const {
    // The whole path is what later steps use: one the system refuses is refused here too, although
    // the name alone could be read from its folder.
    if (entry.fts_pathlen >= PATH_MAX) {
        errno = ENAMETOOLONG;
        return false;
    }
    const bool isRoot = entry.fts_level == FTS_ROOTLEVEL;
    // A root given as a link is followed on request, unless it leads nowhere.
    const bool follow = isRoot && followsRoot_ && entry.fts_info != FTS_SLNONE;
    int folder = AT_FDCWD;
    const char* name = entry.fts_path;
    if (!isRoot && !parentDirectoryStack_.empty() && parentDirectoryStack_.back().item == entry.fts_parent &&
        parentDirectoryStack_.back().descriptor) {
        folder = parentDirectoryStack_.back().descriptor.get();
        name = entry.fts_name;
    }
    struct ::statx status {};
    constexpr unsigned int mask = STATX_BASIC_STATS | STATX_BTIME;
    bool read = false;
    if (descriptor != nullptr) {
        velmor::Descriptor opened(
            ::openat(folder, name, O_PATH | O_DIRECTORY | O_CLOEXEC | (follow ? 0 : O_NOFOLLOW)));
        if (opened) {
            // The record of the very folder the descriptor holds, whatever happens to its name.
            if (::statx(opened.get(), "", AT_EMPTY_PATH, mask, &status) != 0) {
                return false;
            }
            *descriptor = std::move(opened);
            read = true;
        } else if (errno != EMFILE && errno != ENFILE) {
            // No longer a folder (a link put in its place, say) or gone since fts looked at it.
            return false;
        }
    }
    if (!read && ::statx(folder, name, follow ? 0 : AT_SYMLINK_NOFOLLOW, mask, &status) != 0) {
        return false;
    }
    // fts lists a folder it is about to enter by its path, so a folder replaced since fts looked
    // at it would have fts walk whatever now stands there, under the old folder's name.
    if (entry.fts_info == FTS_D &&
        (!S_ISDIR(status.stx_mode) || status.stx_ino != entry.fts_ino ||
         makedev(status.stx_dev_major, status.stx_dev_minor) != entry.fts_dev)) {
        errno = S_ISDIR(status.stx_mode) ? ESTALE : ENOTDIR;
        return false;
    }
    record = velmor::Stat::fromStatx(status);
    return true;
}

std::optional<Event> FileSystemIterator::next() {
    std::optional<Event> event;
    advance(event);
    return event;
}

bool FileSystemIterator::advance(std::optional<Event>& slot) {
    if (root_ == nullptr || finished_) {
        return false;
    }
    started_ = true;
    FTSENT* entry = nullptr;
    for (;;) {
        errno = 0;
        entry = ::fts_read(root_);
        if (entry == nullptr) {
            finished_ = true;
            // fts gives up when it cannot get back to a folder it left (one moved during the walk, say):
            // that walk is incomplete, which must not pass for its end.
            if (errno != 0) {
                slot = Event::error(rootPath_, velmor::Error::posix(errno));
                return true;
            }
            return false;
        }
        // A dropped folder comes back at once as left: it was never reported as entered.
        if (std::exchange(droppedDirectory_, nullptr) == entry && entry->fts_info == FTS_DP) {
            continue;
        }
        break;
    }

    int info = entry->fts_info;
    int failure = entry->fts_errno;
    lastRecordIsCurrent_ = false;
    const velmor::Stat* record = nullptr;
    velmor::Descriptor descriptor;
    if (!readsRecords_) {
        if (entry->fts_statp != nullptr && carriesRecord(info)) {
            record_ = velmor::Stat::fromLinux(*entry->fts_statp);
            record = &record_;
        }
    } else if (info == FTS_DP && !parentDirectoryStack_.empty() && parentDirectoryStack_.back().item == entry) {
        // As fts would: the record read when the folder was entered.
        record_ = parentDirectoryStack_.back().stat;
        record = &record_;
    } else if (carriesRecord(info) || info == FTS_NSOK) {
        // Folders deeper than this are read by their whole path, so that deep trees and walks side
        // by side do not run the process out of descriptors.
        constexpr std::size_t deepestHeldFolder = 64;
        const bool holdFolder = info == FTS_D && parentDirectoryStack_.size() < deepestHeldFolder;
        if (readRecord(*entry, record_, holdFolder ? &descriptor : nullptr)) {
            record = &record_;
            // A root read through a link describes the link's target, not the path's own entry.
            lastRecordIsCurrent_ = !(entry->fts_level == FTS_ROOTLEVEL && followsRoot_);
            if (info == FTS_NSOK) {
                // fts judged the entry by its listing's type alone, which says it is no folder.
                if (S_ISREG(record_.st_mode)) {
                    info = FTS_F;
                } else if (S_ISLNK(record_.st_mode)) {
                    info = FTS_SL;
                } else if (S_ISDIR(record_.st_mode)) {
                    // Replaced by a folder since the listing: fts will not enter it, so it is
                    // reported instead of passing for a file.
                    info = FTS_NS;
                    failure = EISDIR;
                    record = nullptr;
                    lastRecordIsCurrent_ = false;
                } else {
                    info = FTS_DEFAULT;
                }
            }
        } else {
            failure = errno;
            if (info == FTS_D) {
                // Gone or replaced since fts listed it: reported as an entry that cannot be read,
                // and not entered.
                ::fts_set(root_, entry, FTS_SKIP);
                droppedDirectory_ = entry;
            }
            info = FTS_NS;
        }
    }
    if (!slot) {
        slot.emplace(Event(Event::Kind::error, std::string()));
    }
    const std::string_view path(entry->fts_path, entry->fts_pathlen);

    const std::uint32_t user = checkedDeletePermissionUser_;
    bool parentWritable = false;
    bool parentSticky = false;
    if (!parentDirectoryStack_.empty()) {
        parentWritable = parentDirectoryStack_.back().writePermission;
        parentSticky = parentDirectoryStack_.back().stickyBitSet;
    } else if (auto rootStat = velmor::Stat::statPath(std::string(path))) {
        // The root has no parent on the stack: it is judged against itself.
        parentWritable = canWriteDirectory(*rootStat, user, checkedDeletePermissionUserGroups_);
        parentSticky = rootStat->st_mode & S_ISVTX;
    }
    const bool hasDeletePermission =
        mayDeleteEntry(parentWritable, parentSticky, user, record != nullptr ? record->st_uid : 0);

    auto popDirectory = [&] {
        if (!parentDirectoryStack_.empty() && parentDirectoryStack_.back().item == entry) {
            parentDirectoryStack_.pop_back();
        }
        // fts frees a finished directory's entry once it moves on: never hand it to fts_set later.
        if (currentItem_ == entry) {
            currentItem_ = nullptr;
        }
    };

    switch (info) {
    case FTS_DP:
        popDirectory();
        // A directory that could be listed but not searched comes back with its error set and no
        // entries: report it as unreadable instead of as an empty folder.
        if (failure != 0) {
            slot->assignEntry(FTS_DNR, path, nullptr, failure, false);
            return true;
        }
        break;
    case FTS_DNR:
        // fts entered this directory before it failed to read it; no FTS_DP follows.
        popDirectory();
        break;
    case FTS_D:
        if (record == nullptr) {
            break;
        }
        parentDirectoryStack_.push_back({entry, canWriteDirectory(*record, user, checkedDeletePermissionUserGroups_),
                                         (record->st_mode & S_ISVTX) != 0, *record, std::move(descriptor)});
        currentItem_ = entry;
        if (readsRecords_) {
            // fts would otherwise trust the folder's link count to tell when only files are left
            // and stop asking the listing's types; not every file system counts links that way.
            // It counts down from the links less the two of "." and ".." (when those are not
            // walked): a count that starts at -1 never reaches 0.
            entry->fts_nlink = seesDots_ ? static_cast<nlink_t>(-1) : 1;
        }
        break;
    default:
        break;
    }
    slot->assignEntry(info, path, record, failure, hasDeletePermission);
    return true;
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
