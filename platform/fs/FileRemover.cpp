#include "platform/fs/FileRemover.hpp"

#include "platform/fs/Descriptor.hpp"

#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace velmor {

namespace {

// Enough to keep the common depths free of reopening, few enough for any descriptor limit.
constexpr std::size_t maxOpenLevels = 32;

constexpr unsigned statxFields = STATX_BASIC_STATS | STATX_BTIME | STATX_MNT_ID;

int statAt(int directory, const char* name, struct ::statx& record) {
    return ::statx(directory, name, AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT, statxFields, &record);
}

int statOpened(int descriptor, struct ::statx& record) {
    return ::statx(descriptor, "", AT_EMPTY_PATH, statxFields, &record);
}

bool isMountRoot(const struct ::statx& record) {
    return (record.stx_attributes_mask & STATX_ATTR_MOUNT_ROOT) != 0 &&
           (record.stx_attributes & STATX_ATTR_MOUNT_ROOT) != 0;
}

// The mount, not the device: a bind mount of the same file system has the same device number.
bool onSameMount(const struct ::statx& a, const struct ::statx& b) {
    if ((a.stx_mask & STATX_MNT_ID) != 0 && (b.stx_mask & STATX_MNT_ID) != 0) {
        return a.stx_mnt_id == b.stx_mnt_id;
    }
    return a.stx_dev_major == b.stx_dev_major && a.stx_dev_minor == b.stx_dev_minor;
}

bool sameInode(const struct ::statx& a, const struct ::statx& b) {
    return a.stx_ino == b.stx_ino && a.stx_dev_major == b.stx_dev_major && a.stx_dev_minor == b.stx_dev_minor;
}

std::string trimmedPath(std::string path) {
    while (path.size() > 1 && path.back() == '/') {
        path.pop_back();
    }
    return path;
}

std::string lastComponent(const std::string& path) {
    const std::string trimmed = trimmedPath(path);
    auto slash = trimmed.find_last_of('/');
    std::string name = slash == std::string::npos ? trimmed : trimmed.substr(slash + 1);
    return name.empty() ? trimmed : name;
}

// Why the removal failed, as the end of "couldn't be removed because ...".
std::string reason(int posixCode) {
    switch (posixCode) {
    case ENOENT:
        return "it doesn't exist";
    case EACCES:
    case EPERM:
        return "you don't have permission to access it";
    case EROFS:
        return "the volume is read only";
    case ENOTDIR:
    case ELOOP:
        return "a folder on its path is no longer a folder (it was replaced by a link or a file)";
    case EXDEV:
        return "another volume is mounted on it";
    case ESTALE:
        return "it was moved while it was being removed";
    case EINVAL:
        return "its path is not a plain absolute path (it is relative, or has “.” or “..” in it)";
    case ENAMETOOLONG:
        return "its path is too long";
    case EBUSY:
        return "it is in use";
    case EMFILE:
    case ENFILE:
        return "too many files are open";
    default: {
        const char* text = Error::isKnownPosixCode(posixCode) ? ::strerrordesc_np(posixCode) : nullptr;
        return std::string("of an error (") + (text ? text : "unknown error") + ")";
    }
    }
}

// The names in a folder, read before anything in it is removed: removing while a directory
// stream is read may skip entries. Sets `error` when the listing failed or stopped early.
std::vector<std::string> namesIn(int directory, int& error) {
    std::vector<std::string> names;
    error = 0;
    Descriptor listing(::fcntl(directory, F_DUPFD_CLOEXEC, 0));
    if (!listing.isOpen()) {
        error = errno;
        return names;
    }
    DIR* stream = ::fdopendir(listing.get());
    if (stream == nullptr) {
        error = errno;
        return names;
    }
    listing.release();
    errno = 0;
    while (struct ::dirent* entry = ::readdir(stream)) {
        std::string_view name = entry->d_name;
        if (name != "." && name != "..") {
            names.emplace_back(name);
        }
    }
    error = errno;
    ::closedir(stream);
    return names;
}

// One removal: the entry and, for a folder, everything below it, depth first without recursion.
class TreeRemoval {
public:
    TreeRemoval(const FileRemover::DidRemove& didRemove, std::string path)
        : didRemove_(didRemove), path_(std::move(path)) {}

    std::optional<Error> run(int parent, const std::string& name,
                             const std::optional<FileIdentity>& expected) {
        struct ::statx record {};
        if (statAt(parent, name.c_str(), record) != 0) {
            fail(errno, true);
            return firstFailure_;
        }
        if (expected && !expected->isSameEntry(Stat::fromStatx(record))) {
            firstFailure_ = FileRemover::changedEntryError(path_);
            return firstFailure_;
        }
        top_ = record;
        if (!S_ISDIR(record.stx_mode)) {
            removeNonFolder(parent, name, record, true);
            return firstFailure_;
        }
        if (!enter(parent, name, record, true)) {
            return firstFailure_;
        }
        walk(parent);
        return firstFailure_;
    }

private:
    struct Level {
        Descriptor descriptor; // closed for levels above the open window
        struct ::statx record {};
        std::string name;
        std::vector<std::string> names;
        std::size_t next = 0;
        std::size_t pathLength = 0;
    };

    void fail(int posixCode, bool isTop) {
        // Something below the entry that went away meanwhile is as good as removed; only the entry
        // itself reports that it does not exist.
        if (posixCode == ENOENT && !isTop) {
            return;
        }
        if (!firstFailure_) {
            firstFailure_ = FileRemover::fileOperationError(posixCode, path_);
        }
    }

    void removed(const struct ::statx& record) {
        if (didRemove_) {
            didRemove_(path_, Stat::fromStatx(record));
        }
    }

    void removeNonFolder(int parent, const std::string& name, struct ::statx record, bool isTop) {
        if (::unlinkat(parent, name.c_str(), 0) != 0) {
            // A folder put in place of the entry since it was looked at is left for the caller to see.
            fail(errno, isTop);
        } else {
            removed(record);
        }
    }

    // Opens the folder `name` seen as `record` and pushes it; false when it is not to be entered.
    bool enter(int parent, const std::string& name, const struct ::statx& record, bool isTop) {
        // Another mount below the entry is not part of it: nothing there is touched.
        if (isMountRoot(record) || !onSameMount(record, top_)) {
            fail(EXDEV, isTop);
            return false;
        }
        Descriptor directory(::openat(parent, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (!directory.isOpen()) {
            if (errno != ELOOP && errno != ENOTDIR) {
                fail(errno, isTop);
                return false;
            }
            // Swapped for something that is not a folder since it was looked at: remove that entry
            // itself, never what it points to.
            struct ::statx now {};
            if (statAt(parent, name.c_str(), now) != 0) {
                fail(errno, isTop);
            } else if (isTop && !sameInode(now, top_)) {
                firstFailure_ = FileRemover::changedEntryError(path_);
            } else {
                removeNonFolder(parent, name, now, isTop);
            }
            return false;
        }
        // What was opened must be what was looked at: a mount put in place meanwhile is refused.
        struct ::statx opened {};
        if (statOpened(directory.get(), opened) != 0 || !sameInode(opened, record) || isMountRoot(opened) ||
            !onSameMount(opened, top_)) {
            fail(EXDEV, isTop);
            return false;
        }
        int listError = 0;
        std::vector<std::string> names = namesIn(directory.get(), listError);
        if (listError != 0) {
            fail(listError, false);
        }
        if (levels_.size() - firstOpen_ >= maxOpenLevels) {
            levels_[firstOpen_++].descriptor.reset();
        }
        levels_.push_back(Level{std::move(directory), record, name, std::move(names), 0, path_.size()});
        return true;
    }

    // Makes sure the folder below the innermost level is open again, reached through "..". False
    // when what is there now is not the folder that was entered.
    bool reopenAbove(Level& child, Level& parent) {
        Descriptor reopened(::openat(child.descriptor.get(), "..", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        struct ::statx record {};
        if (!reopened.isOpen() || statOpened(reopened.get(), record) != 0 ||
            !sameInode(record, parent.record)) {
            return false;
        }
        parent.descriptor = std::move(reopened);
        return true;
    }

    void walk(int topParent) {
        while (!levels_.empty()) {
            Level& level = levels_.back();
            if (level.next < level.names.size()) {
                const std::string& name = level.names[level.next++];
                path_.resize(level.pathLength);
                path_ += '/';
                path_ += name;
                struct ::statx record {};
                if (statAt(level.descriptor.get(), name.c_str(), record) != 0) {
                    fail(errno, false);
                } else if (S_ISDIR(record.stx_mode)) {
                    enter(level.descriptor.get(), name, record, false);
                } else {
                    removeNonFolder(level.descriptor.get(), name, record, false);
                }
                continue;
            }
            // Everything below was tried: the folder itself goes, from the folder above it.
            path_.resize(level.pathLength);
            const bool isTop = levels_.size() == 1;
            int parent = topParent;
            if (!isTop) {
                Level& above = levels_[levels_.size() - 2];
                if (!above.descriptor.isOpen()) {
                    if (!reopenAbove(level, above)) {
                        path_.resize(above.pathLength);
                        fail(ESTALE, false);
                        levels_.clear();
                        return;
                    }
                    firstOpen_ = levels_.size() - 2;
                }
                parent = above.descriptor.get();
            }
            Level done = std::move(levels_.back());
            levels_.pop_back();
            done.descriptor.reset();
            if (::unlinkat(parent, done.name.c_str(), AT_REMOVEDIR) != 0) {
                fail(errno, isTop);
            } else {
                removed(done.record);
            }
        }
    }

    const FileRemover::DidRemove& didRemove_;
    std::string path_;
    struct ::statx top_ {};
    std::vector<Level> levels_;
    std::size_t firstOpen_ = 0;
    std::optional<Error> firstFailure_;
};

} // namespace

Error FileRemover::fileOperationError(int posixCode, const std::string& path) {
    std::int64_t code = writeUnknownCode;
    switch (posixCode) {
    case ENOENT:
        code = noSuchFileCode;
        break;
    case EACCES:
    case EPERM:
        code = writeNoPermissionCode;
        break;
    case EROFS:
        code = writeVolumeReadOnlyCode;
        break;
    default:
        break;
    }
    return Error(Error::cocoaDomain, code,
                 {{Error::underlyingErrorKey, std::make_shared<const Error>(Error::posix(posixCode))},
                  {Error::filePathKey, path},
                  {Error::localizedDescriptionKey,
                   "“" + lastComponent(path) + "” couldn't be removed because " + reason(posixCode) + "."}});
}

Error FileRemover::changedEntryError(const std::string& path) {
    return Error(errorDomain, changedEntryCode,
                 {{Error::filePathKey, path},
                  {Error::localizedDescriptionKey,
                   "“" + lastComponent(path) + "” was not removed because another entry took its place."}});
}

std::optional<Error> FileRemover::removeItem(const std::string& rawPath,
                                             const std::optional<FileIdentity>& expected) const {
    const std::string path = trimmedPath(rawPath);
    const auto slash = path.find_last_of('/');
    if (path.empty() || path.front() != '/' || path == "/") {
        return fileOperationError(EINVAL, rawPath);
    }
    const std::string name = path.substr(slash + 1);
    if (name == "." || name == "..") {
        return fileOperationError(EINVAL, rawPath);
    }
    // The folders above the entry are taken as they are; from the entry down nothing is followed.
    const std::string parentPath = slash == 0 ? "/" : path.substr(0, slash);
    Descriptor parent(::open(parentPath.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!parent.isOpen()) {
        return fileOperationError(errno, path);
    }
    return removeBelow(parent.get(), name, path, expected);
}

std::optional<Error> FileRemover::removeItem(const AnchoredFolder& root, const std::string& rawPath,
                                             const std::optional<FileIdentity>& expected) const {
    const std::string path = trimmedPath(rawPath);
    if (!root.holds(path)) {
        return fileOperationError(EINVAL, rawPath);
    }
    std::string name;
    Descriptor parent = root.openParentOf(path, name);
    if (!parent.isOpen()) {
        return fileOperationError(errno, path);
    }
    return removeBelow(parent.get(), name, path, expected);
}

std::optional<Error> FileRemover::removeBelow(int parent, const std::string& name, const std::string& path,
                                              const std::optional<FileIdentity>& expected) const {
    return TreeRemoval(didRemove_, path).run(parent, name, expected);
}

FileRemover::FolderStep FileRemover::removeFolderIfOnlyHiddenFiles(const AnchoredFolder& root,
                                                                   const std::string& rawPath) const {
    const std::string path = trimmedPath(rawPath);
    if (!root.holds(path)) {
        return {}; // the root itself, or what is not below it, is never removed here
    }
    std::string name;
    Descriptor parent = root.openParentOf(path, name);
    if (!parent.isOpen()) {
        return {errno == ENOENT ? FolderOutcome::missing : FolderOutcome::kept, std::nullopt};
    }
    struct ::statx record {};
    if (statAt(parent.get(), name.c_str(), record) != 0) {
        return {errno == ENOENT ? FolderOutcome::missing : FolderOutcome::kept, std::nullopt};
    }
    if (!S_ISDIR(record.stx_mode) || isMountRoot(record)) {
        return {};
    }
    Descriptor folder(::openat(parent.get(), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    struct ::statx opened {};
    if (!folder.isOpen() || statOpened(folder.get(), opened) != 0 || !sameInode(opened, record) ||
        !onSameMount(opened, record)) {
        return {};
    }
    int listError = 0;
    const std::vector<std::string> names = namesIn(folder.get(), listError);
    if (listError != 0) {
        return {};
    }
    // Only hidden regular files may go with the folder; the names are all checked before any goes.
    std::vector<std::pair<std::string, struct ::statx>> hiddenFiles;
    for (const auto& entry : names) {
        struct ::statx entryRecord {};
        if (entry.front() != '.' || statAt(folder.get(), entry.c_str(), entryRecord) != 0 ||
            !S_ISREG(entryRecord.stx_mode)) {
            return {};
        }
        hiddenFiles.emplace_back(entry, entryRecord);
    }
    for (auto& [entry, entryRecord] : hiddenFiles) {
        // Read again just before it goes: another name of the same file among them may have gone
        // since the listing, which changes what this one frees.
        struct ::statx now {};
        if (statAt(folder.get(), entry.c_str(), now) == 0) {
            entryRecord = now;
        }
        if (::unlinkat(folder.get(), entry.c_str(), 0) != 0) {
            if (errno == ENOENT) {
                continue;
            }
            if (errno == EISDIR) {
                return {}; // a folder took its place: it is content
            }
            return {FolderOutcome::kept, fileOperationError(errno, path + "/" + entry)};
        }
        if (didRemove_) {
            didRemove_(path + "/" + entry, Stat::fromStatx(entryRecord));
        }
    }
    // Fails when anything arrived since the listing: the folder then stays, which is no failure.
    if (::unlinkat(parent.get(), name.c_str(), AT_REMOVEDIR) != 0) {
        if (errno == ENOTEMPTY || errno == EEXIST) {
            return {};
        }
        if (errno == ENOENT) {
            return {FolderOutcome::missing, std::nullopt};
        }
        return {FolderOutcome::kept, fileOperationError(errno, path)};
    }
    if (didRemove_) {
        didRemove_(path, Stat::fromStatx(record));
    }
    return {FolderOutcome::removed, std::nullopt};
}

} // namespace velmor
