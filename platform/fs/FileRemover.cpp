#include "platform/fs/FileRemover.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace velmor {

namespace {

class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return fd_; }
    int release() { return std::exchange(fd_, -1); }

private:
    int fd_;
};

void keepFirst(std::optional<Error>& firstFailure, Error error) {
    if (!firstFailure) {
        firstFailure = std::move(error);
    }
}

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
    std::optional<Error> firstFailure;
    removeEntry(parent.get(), name, path, firstFailure);
    return firstFailure;
}

void FileRemover::removeEntry(int parent, const std::string& name, const std::string& path,
                              std::optional<Error>& firstFailure) const {
    struct ::stat record {};
    if (::fstatat(parent, name.c_str(), &record, AT_SYMLINK_NOFOLLOW) != 0) {
        keepFirst(firstFailure, fileOperationError(errno, path));
        return;
    }
    if (S_ISDIR(record.st_mode)) {
        Descriptor directory(::openat(parent, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (directory.get() >= 0) {
            removeContents(directory.get(), path, firstFailure);
            if (::unlinkat(parent, name.c_str(), AT_REMOVEDIR) != 0) {
                keepFirst(firstFailure, fileOperationError(errno, path));
            } else if (didRemove_) {
                didRemove_(path, Stat::fromLinux(record));
            }
            return;
        }
        if (errno != ELOOP && errno != ENOTDIR) {
            keepFirst(firstFailure, fileOperationError(errno, path));
            return;
        }
        // Swapped for something that is not a folder since it was looked at: remove that entry
        // itself, never what it points to.
        if (::fstatat(parent, name.c_str(), &record, AT_SYMLINK_NOFOLLOW) != 0) {
            keepFirst(firstFailure, fileOperationError(errno, path));
            return;
        }
    }
    if (::unlinkat(parent, name.c_str(), 0) != 0) {
        // A folder put in place of the entry since it was looked at is left for the caller to see.
        keepFirst(firstFailure, fileOperationError(errno, path));
    } else if (didRemove_) {
        didRemove_(path, Stat::fromLinux(record));
    }
}

void FileRemover::removeContents(int directory, const std::string& directoryPath,
                                 std::optional<Error>& firstFailure) const {
    // Read the names first: removing while reading a directory stream may skip entries.
    Descriptor listing(::dup(directory));
    if (listing.get() < 0) {
        keepFirst(firstFailure, fileOperationError(errno, directoryPath));
        return;
    }
    DIR* stream = ::fdopendir(listing.get());
    if (stream == nullptr) {
        keepFirst(firstFailure, fileOperationError(errno, directoryPath));
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
        keepFirst(firstFailure, fileOperationError(readError, directoryPath));
    }
    for (const auto& name : names) {
        removeEntry(directory, name, directoryPath + "/" + name, firstFailure);
    }
}

} // namespace velmor
