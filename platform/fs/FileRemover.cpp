#include "platform/fs/FileRemover.hpp"

#include "platform/fs/FileDescriptor.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace velmor {

namespace {

using Descriptor = FileDescriptor;

std::string parentPath(const std::string& path) {
    auto slash = path.find_last_of('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string trimmedPath(std::string path) {
    while (path.size() > 1 && path.back() == '/') {
        path.pop_back();
    }
    return path;
}

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
                  {Error::filePathKey, path}});
}

std::optional<Error> FileRemover::removeItem(const std::string& rawPath) const {
    const std::string path = trimmedPath(rawPath);
    if (path.empty() || path == "/") {
        return fileOperationError(EINVAL, rawPath);
    }
    const std::string name = path.substr(path.find_last_of('/') + 1);
    if (name == "." || name == "..") {
        return fileOperationError(EINVAL, rawPath);
    }
    // The folders above the entry are taken as they are; from the entry down nothing is followed.
    Descriptor parent(::open(parentPath(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (parent.get() < 0) {
        return fileOperationError(errno, path);
    }
    Removal removal;
    removeEntry(parent.get(), name, path, removal, true);
    return removal.firstFailure;
}

void FileRemover::fail(Removal& removal, int posixCode, const std::string& path, bool isTop) {
    // Something below the entry that went away meanwhile is as good as removed; only the entry
    // itself reports that it does not exist.
    if (posixCode == ENOENT && !isTop) {
        return;
    }
    if (!removal.firstFailure) {
        removal.firstFailure = fileOperationError(posixCode, path);
    }
}

void FileRemover::removeEntry(int parent, const std::string& name, const std::string& path, Removal& removal,
                              bool isTop) const {
    struct ::stat record {};
    if (::fstatat(parent, name.c_str(), &record, AT_SYMLINK_NOFOLLOW) != 0) {
        fail(removal, errno, path, isTop);
        return;
    }
    if (isTop) {
        removal.device = record.st_dev;
    }
    if (S_ISDIR(record.st_mode)) {
        // Another file system mounted below the entry is not part of it: nothing there is touched.
        if (record.st_dev != removal.device) {
            fail(removal, EXDEV, path, isTop);
            return;
        }
        Descriptor directory(::openat(parent, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (directory.get() >= 0) {
            struct ::stat opened {};
            // What was opened must be what was looked at: a mount put in place meanwhile is refused.
            if (::fstat(directory.get(), &opened) != 0 || opened.st_dev != removal.device ||
                opened.st_ino != record.st_ino) {
                fail(removal, EXDEV, path, isTop);
                return;
            }
            removeContents(directory.get(), path, removal);
            if (::unlinkat(parent, name.c_str(), AT_REMOVEDIR) != 0) {
                fail(removal, errno, path, isTop);
            } else if (didRemove_) {
                didRemove_(path, Stat::fromLinux(record));
            }
            return;
        }
        if (errno != ELOOP && errno != ENOTDIR) {
            fail(removal, errno, path, isTop);
            return;
        }
        // Swapped for something that is not a folder since it was looked at: remove that entry
        // itself, never what it points to.
        if (::fstatat(parent, name.c_str(), &record, AT_SYMLINK_NOFOLLOW) != 0) {
            fail(removal, errno, path, isTop);
            return;
        }
    }
    if (::unlinkat(parent, name.c_str(), 0) != 0) {
        // A folder put in place of the entry since it was looked at is left for the caller to see.
        fail(removal, errno, path, isTop);
    } else if (didRemove_) {
        didRemove_(path, Stat::fromLinux(record));
    }
}

void FileRemover::removeContents(int directory, const std::string& directoryPath, Removal& removal) const {
    // Read the names first: removing while reading a directory stream may skip entries.
    Descriptor listing(::dup(directory));
    if (listing.get() < 0) {
        fail(removal, errno, directoryPath, false);
        return;
    }
    DIR* stream = ::fdopendir(listing.get());
    if (stream == nullptr) {
        fail(removal, errno, directoryPath, false);
        return;
    }
    listing.release();
    std::vector<std::string> names;
    errno = 0;
    while (struct ::dirent* entry = ::readdir(stream)) {
        std::string_view name = entry->d_name;
        if (name != "." && name != "..") {
            names.emplace_back(name);
        }
    }
    const int readError = errno;
    ::closedir(stream);
    if (readError != 0) {
        fail(removal, readError, directoryPath, false);
    }
    for (const auto& name : names) {
        removeEntry(directory, name, directoryPath + "/" + name, removal, false);
    }
}

} // namespace velmor
