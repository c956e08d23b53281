#include "sdk/filesystem/FileSystemIterator.hpp"

#include "sdk/filesystem/DeletePermission.hpp"
#include "sdk/filesystem/FSIteratorError.hpp"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fts.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#include <utility>

namespace sweepkit {

namespace {

constexpr unsigned int recordMask = STATX_BASIC_STATS | STATX_BTIME;
constexpr int folderFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
// Large enough that most folders are listed in one or two reads.
constexpr std::size_t listingBufferSize = 32 * 1024;

dev_t deviceOf(const struct ::statx& status) {
    return makedev(status.stx_dev_major, status.stx_dev_minor);
}

bool outOfDescriptors(int error) {
    return error == EMFILE || error == ENFILE;
}

bool isDotName(const char* name) {
    return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

// Whether following a link failed for a reason of the link's own target (gone, a loop, a path
// through a file, a name too long, a folder that may not be searched), so that the link itself is
// still there to be reported.
bool isUnfollowable(int error) {
    return error == ENOENT || error == ELOOP || error == ENOTDIR || error == ENAMETOOLONG || error == EACCES;
}

// The fts kind of an entry that is no folder.
int kindOf(mode_t mode) {
    if (S_ISREG(mode)) {
        return FTS_F;
    }
    if (S_ISLNK(mode)) {
        return FTS_SL;
    }
    return FTS_DEFAULT;
}

} // namespace

std::size_t FileSystemIterator::heldFolderBound(std::uint64_t limit) {
    // A sixteenth of the limit leaves the rest to the process and to the other walks beside this one.
    constexpr std::uint64_t most = 64;
    return static_cast<std::size_t>(std::clamp<std::uint64_t>(limit / 16, 1, most));
}

FileSystemIterator::FileSystemIterator(const velmor::URL& url, Options options, std::uint32_t user,
                                       std::vector<std::uint32_t> groups)
    : checkedDeletePermissionUser_(user),
      checkedDeletePermissionUserGroups_(std::move(groups)) {
    // As fts_open, a walk must say whether it follows links; a walk that says neither walks nothing.
    if (!options.contains(Options::logical) && !options.contains(Options::physical)) {
        return;
    }
    rootPath_ = url.path();
    follows_ = options.contains(Options::logical);
    followsRoot_ = follows_ || options.contains(Options::commandLineFollow);
    seesDots_ = options.contains(Options::seeDot);
    staysOnDevice_ = options.contains(Options::crossDevice);
    struct ::rlimit limit {};
    heldBound_ = heldFolderBound(::getrlimit(RLIMIT_NOFILE, &limit) == 0 ? limit.rlim_cur : 1024);
}

FileSystemIterator::~FileSystemIterator() = default;

void FileSystemIterator::setRecord(const struct ::statx& status, bool current) {
    record_ = velmor::Stat::fromStatx(status);
    lastRecordIsCurrent_ = current;
}

void FileSystemIterator::giveBackHeldDescriptors(int keep) {
    for (std::size_t index = 0; index < depth_; ++index) {
        if (frames_[index].descriptor.get() != keep) {
            frames_[index].descriptor.reset();
        }
    }
}

int FileSystemIterator::openFolder(int parent, const char* name, bool follow) {
    const int flags = folderFlags | (follow ? 0 : O_NOFOLLOW);
    int fd = ::openat(parent, name, flags);
    if (fd < 0 && outOfDescriptors(errno)) {
        // The held folders are opened again when the walk comes back to them.
        giveBackHeldDescriptors(parent);
        fd = ::openat(parent, name, flags);
    }
    return fd;
}

bool FileSystemIterator::isCycle(dev_t device, ino_t inode) const {
    for (std::size_t index = 0; index < depth_; ++index) {
        if (frames_[index].device == device && frames_[index].inode == inode) {
            return true;
        }
    }
    return false;
}

void FileSystemIterator::pushFolder(std::size_t nameOffset, velmor::Descriptor descriptor,
                                    const struct ::statx& status, int unreadable) {
    if (depth_ == frames_.size()) {
        frames_.emplace_back();
    }
    Frame& frame = frames_[depth_++];
    frame.pathLength = path_.size();
    frame.nameOffset = nameOffset;
    frame.stat = record_;
    frame.device = deviceOf(status);
    frame.inode = status.stx_ino;
    frame.writePermission = canWriteDirectory(record_, checkedDeletePermissionUser_, checkedDeletePermissionUserGroups_);
    frame.stickyBitSet = (record_.st_mode & S_ISVTX) != 0;
    frame.pending = true;
    frame.skipRequested = false;
    skippable_ = true;
    frame.unreadable = unreadable;
    frame.descriptor = std::move(descriptor);
    frame.names.clear();
    frame.listing.clear();
    frame.nextEntry = 0;
}

int FileSystemIterator::descriptorOf(std::size_t index) {
    if (frames_[index].descriptor) {
        return frames_[index].descriptor.get();
    }
    std::size_t from = index;
    while (from > 0 && !frames_[from - 1].descriptor) {
        --from;
    }
    // One step at a time from the nearest folder still held, each step checked against the folder
    // the walk entered there: a step swapped for a link or for another folder ends the way back.
    for (std::size_t step = from; step <= index; ++step) {
        Frame& frame = frames_[step];
        const int base = step == 0 ? AT_FDCWD : frames_[step - 1].descriptor.get();
        const std::string name = step == 0 ? rootPath_
                                           : path_.substr(frame.nameOffset, frame.pathLength - frame.nameOffset);
        velmor::Descriptor opened(openFolder(base, name.c_str(), step == 0 ? followsRoot_ : follows_));
        if (!opened) {
            return -1;
        }
        struct ::statx status {};
        if (::statx(opened.get(), "", AT_EMPTY_PATH, STATX_INO, &status) != 0) {
            return -1;
        }
        if (deviceOf(status) != frame.device || status.stx_ino != frame.inode) {
            errno = ESTALE;
            return -1;
        }
        frame.descriptor = std::move(opened);
        if (step > from && step - 1 >= heldBound_) {
            frames_[step - 1].descriptor.reset();
        }
    }
    return frames_[index].descriptor.get();
}

bool FileSystemIterator::readListing(Frame& frame) {
    if (listingBuffer_.empty()) {
        listingBuffer_.resize(listingBufferSize);
    }
    const int fd = frame.descriptor.get();
    for (;;) {
        const ssize_t read = ::getdents64(fd, listingBuffer_.data(), listingBuffer_.size());
        if (read < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        if (read == 0) {
            return true;
        }
        for (ssize_t offset = 0; offset < read;) {
            const auto* entry = reinterpret_cast<const struct ::dirent64*>(listingBuffer_.data() + offset);
            offset += entry->d_reclen;
            const char* name = entry->d_name;
            if (!seesDots_ && isDotName(name)) {
                continue;
            }
            const std::size_t length = std::strlen(name);
            frame.listing.push_back({static_cast<std::uint32_t>(frame.names.size()),
                                     static_cast<std::uint32_t>(length), entry->d_type});
            frame.names.append(name, length + 1);
        }
    }
}

bool FileSystemIterator::readUnfollowedLink(int folder, const char* name, int followError) {
    struct ::statx status {};
    if (!isUnfollowable(followError) || ::statx(folder, name, AT_SYMLINK_NOFOLLOW, recordMask, &status) != 0 ||
        !S_ISLNK(status.stx_mode)) {
        return false;
    }
    // The link's own record stands in for its target's, which the walk asked for: not current.
    setRecord(status, false);
    return true;
}

FileSystemIterator::Step FileSystemIterator::startAtRoot() {
    path_ = rootPath_;
    const bool follow = followsRoot_;
    // The root has no parent in the walk: it is judged against itself.
    bool parentWritable = false;
    bool parentSticky = false;
    if (auto rootStat = velmor::Stat::statPath(rootPath_)) {
        parentWritable = canWriteDirectory(*rootStat, checkedDeletePermissionUser_, checkedDeletePermissionUserGroups_);
        parentSticky = (rootStat->st_mode & S_ISVTX) != 0;
    }
    auto permission = [&] {
        return mayDeleteEntry(parentWritable, parentSticky, checkedDeletePermissionUser_, record_.st_uid);
    };
    if (rootPath_.size() >= PATH_MAX) {
        return {FTS_NS, nullptr, ENAMETOOLONG, false};
    }
    struct ::statx status {};
    velmor::Descriptor folder(openFolder(AT_FDCWD, rootPath_.c_str(), follow));
    int unreadable = 0;
    if (folder) {
        if (::statx(folder.get(), "", AT_EMPTY_PATH, recordMask, &status) != 0) {
            return {FTS_NS, nullptr, errno, false};
        }
    } else {
        const int openError = errno;
        if (::statx(AT_FDCWD, rootPath_.c_str(), follow ? 0 : AT_SYMLINK_NOFOLLOW, recordMask, &status) != 0) {
            const int statError = errno;
            if (follow && readUnfollowedLink(AT_FDCWD, rootPath_.c_str(), statError)) {
                return {FTS_SLNONE, &record_, 0, permission()};
            }
            return {FTS_NS, nullptr, statError, false};
        }
        if (S_ISDIR(status.stx_mode)) {
            unreadable = openError;
        }
    }
    // A root read through a link describes the link's target, not the path's own entry.
    setRecord(status, !follow);
    if (!S_ISDIR(status.stx_mode)) {
        return {kindOf(status.stx_mode), &record_, 0, permission()};
    }
    rootDevice_ = deviceOf(status);
    const bool rootPermission = permission();
    pushFolder(0, std::move(folder), status, unreadable);
    return {FTS_D, &record_, 0, rootPermission};
}

std::optional<FileSystemIterator::Step> FileSystemIterator::listPendingFolder(Frame& frame) {
    frame.pending = false;
    if (frame.skipRequested || (staysOnDevice_ && frame.device != rootDevice_)) {
        return leaveFolder();
    }
    int failure = frame.unreadable;
    if (failure == 0 && !readListing(frame)) {
        failure = errno;
    }
    if (failure == 0) {
        // Below the held bound a folder gives its descriptor back while the walk is deeper down;
        // only once the folder below is listed, as a folder skipped or not listed returns at once.
        if (depth_ >= 2 && depth_ - 2 >= heldBound_) {
            frames_[depth_ - 2].descriptor.reset();
        }
        return std::nullopt;
    }
    // Entered but not listed: no leaving follows.
    skippable_ = false;
    path_.resize(frame.pathLength);
    frame.descriptor.reset();
    --depth_;
    lastRecordIsCurrent_ = false;
    return Step{FTS_DNR, nullptr, failure, false};
}

FileSystemIterator::Step FileSystemIterator::visitEntry(std::size_t parentIndex, const Listed& entry) {
    Frame& parent = frames_[parentIndex];
    const char* name = parent.names.data() + entry.nameOffset;
    path_.resize(parent.pathLength);
    if (path_.empty() || path_.back() != '/') {
        path_ += '/';
    }
    const std::size_t nameOffset = path_.size();
    path_.append(name, entry.nameLength);
    lastRecordIsCurrent_ = false;
    // The whole path is what later steps use: one the system refuses is refused here too, although
    // the name alone could be read from its folder.
    if (path_.size() >= PATH_MAX) {
        return {FTS_NS, nullptr, ENAMETOOLONG, false};
    }
    const int folder = descriptorOf(parentIndex);
    if (folder < 0) {
        // The folder cannot be reached again as the one the walk entered: its remaining entries are
        // dropped, told once under its own path.
        const int failure = errno;
        parent.nextEntry = parent.listing.size();
        path_.resize(parent.pathLength);
        return {FTS_ERR, nullptr, failure, false};
    }
    auto permission = [&] {
        return mayDeleteEntry(parent.writePermission, parent.stickyBitSet, checkedDeletePermissionUser_,
                              record_.st_uid);
    };
    struct ::statx status {};
    const int statFlags = follows_ ? 0 : AT_SYMLINK_NOFOLLOW;
    if (seesDots_ && isDotName(name)) {
        if (::statx(folder, name, AT_SYMLINK_NOFOLLOW, recordMask, &status) != 0) {
            return {FTS_NS, nullptr, errno, false};
        }
        setRecord(status, true);
        return {FTS_DOT, &record_, 0, permission()};
    }
    if (entry.type != DT_DIR) {
        if (::statx(folder, name, statFlags, recordMask, &status) != 0) {
            const int failure = errno;
            if (follows_ && readUnfollowedLink(folder, name, failure)) {
                return {FTS_SLNONE, &record_, 0, permission()};
            }
            return {FTS_NS, nullptr, failure, false};
        }
        if (!S_ISDIR(status.stx_mode)) {
            setRecord(status, !follows_);
            return {kindOf(status.stx_mode), &record_, 0, permission()};
        }
        // A folder after all: its listing did not tell the type, it became one since, or a followed
        // link leads to one. It is opened as any folder is.
    }
    velmor::Descriptor opened(openFolder(folder, name, follows_));
    int unreadable = 0;
    if (opened) {
        if (::statx(opened.get(), "", AT_EMPTY_PATH, recordMask, &status) != 0) {
            return {FTS_NS, nullptr, errno, false};
        }
    } else {
        const int failure = errno;
        if (failure == ENOTDIR || failure == ELOOP) {
            // No longer a folder (a link put in its place, say): neither entered nor followed.
            return {FTS_NS, nullptr, failure, false};
        }
        // A folder that cannot be listed is told as entered, then as unreadable.
        if (::statx(folder, name, statFlags, recordMask, &status) != 0) {
            return {FTS_NS, nullptr, errno, false};
        }
        if (!S_ISDIR(status.stx_mode)) {
            return {FTS_NS, nullptr, failure, false};
        }
        unreadable = failure;
    }
    setRecord(status, !follows_);
    if (isCycle(deviceOf(status), status.stx_ino)) {
        return {FTS_DC, &record_, 0, false};
    }
    const bool folderPermission = permission();
    pushFolder(nameOffset, std::move(opened), status, unreadable);
    return {FTS_D, &record_, 0, folderPermission};
}

FileSystemIterator::Step FileSystemIterator::leaveFolder() {
    Frame& frame = frames_[depth_ - 1];
    path_.resize(frame.pathLength);
    record_ = frame.stat;
    lastRecordIsCurrent_ = false;
    velmor::Descriptor left = std::move(frame.descriptor);
    --depth_;
    skippable_ = false;
    if (depth_ > 0 && left) {
        // A folder that gave its descriptor back is opened again through the one just left, when its
        // ".." is still that folder: a step up instead of the whole way down from a held folder. It
        // is opened so even with no entries left, so that the way up the rest of a deep chain is
        // one step per folder too, and a renamed ancestor is never looked up by its old name.
        Frame& parent = frames_[depth_ - 1];
        if (!parent.descriptor) {
            velmor::Descriptor up(::openat(left.get(), "..", folderFlags));
            struct ::statx status {};
            if (up && ::statx(up.get(), "", AT_EMPTY_PATH, STATX_INO, &status) == 0 &&
                deviceOf(status) == parent.device && status.stx_ino == parent.inode) {
                parent.descriptor = std::move(up);
            }
        }
    }
    return {FTS_DP, &record_, 0, false};
}

std::optional<Event> FileSystemIterator::next() {
    std::optional<Event> event;
    advance(event);
    return event;
}

bool FileSystemIterator::advance(std::optional<Event>& slot) {
    if (rootPath_.empty() || finished_) {
        return false;
    }
    Step step{};
    if (!started_) {
        started_ = true;
        step = startAtRoot();
    } else {
        for (;;) {
            if (depth_ == 0) {
                finished_ = true;
                return false;
            }
            Frame& top = frames_[depth_ - 1];
            if (top.pending) {
                if (auto told = listPendingFolder(top)) {
                    step = *told;
                    break;
                }
                continue;
            }
            // A skip that came after some of the folder's entries leaves the rest unwalked.
            if (!top.skipRequested && top.nextEntry < top.listing.size()) {
                const Listed entry = top.listing[top.nextEntry++];
                step = visitEntry(depth_ - 1, entry);
                break;
            }
            step = leaveFolder();
            break;
        }
    }
    if (depth_ == 0) {
        finished_ = true;
    }
    if (!slot) {
        slot.emplace(Event(Event::Kind::error, std::string()));
    }
    slot->assignEntry(step.info, path_, step.record, step.failure, step.permission);
    return true;
}

void FileSystemIterator::skip() {
    if (!skippable_) {
        throw velmor::TypedError<FSIteratorError>(FSIteratorError::nothingToSkip);
    }
    frames_[depth_ - 1].skipRequested = true;
    skippable_ = false;
}

std::vector<std::uint32_t> currentUserGroups() {
    int count = ::getgroups(0, nullptr);
    if (count < 0) {
        velmor::throwPosixError(errno, EINVAL);
    }
    // A process may have no supplementary groups at all; its effective group still counts.
    std::vector<gid_t> groups(static_cast<std::size_t>(count), 0);
    if (count > 0) {
        count = ::getgroups(count, groups.data());
        if (count < 0) {
            velmor::throwPosixError(errno, EINVAL);
        }
        groups.resize(static_cast<std::size_t>(count));
    }
    // The kernel grants access through the effective group, which the supplementary list need not
    // hold.
    const gid_t effective = ::getegid();
    if (std::find(groups.begin(), groups.end(), effective) == groups.end()) {
        groups.push_back(effective);
    }
    return std::vector<std::uint32_t>(groups.begin(), groups.end());
}

} // namespace sweepkit
