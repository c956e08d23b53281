#include "platform/fs/FileContents.hpp"

#include "platform/fs/Descriptor.hpp"
#include "platform/text/UTF8.hpp"

#include <cerrno>
#include <cstring>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace velmor {

namespace {

WholeFile failure(int code, std::string cause = {}) {
    return WholeFile{{}, code, cause.empty() ? ::strerrordesc_np(code) : std::move(cause)};
}

const char* kindOfEntry(mode_t mode) {
    switch (mode & S_IFMT) {
    case S_IFIFO:
        return "a FIFO";
    case S_IFSOCK:
        return "a socket";
    case S_IFCHR:
        return "a character device";
    case S_IFBLK:
        return "a block device";
    default:
        return "no regular file";
    }
}

WholeFile tooLarge(std::size_t maximumSize) {
    return failure(EFBIG,
                   "File too large: it is over the limit of " + std::to_string(maximumSize) + " bytes");
}

[[noreturn]] void throwReadError(const WholeFile& read, const URL& url) {
    std::int64_t code = fileReadUnknownCode;
    if (read.error == ENOENT || read.error == ENOTDIR) {
        code = fileReadNoSuchFileCode;
    } else if (read.error == EACCES || read.error == EPERM) {
        code = fileReadNoPermissionCode;
    } else if (read.error == EFBIG) {
        code = fileReadTooLargeCode;
    }
    const Error cause = Error::posix(read.error, EIO);
    throw ErrorException(
        Error(Error::cocoaDomain, code,
              {{Error::localizedDescriptionKey,
                "The file \"" + url.lastPathComponent() + "\" could not be read: " + read.cause + "."},
               {Error::underlyingErrorKey, std::make_shared<const Error>(cause)},
               {Error::filePathKey, url.path()}}));
}

} // namespace

WholeFile readWholeFile(const std::string& path, std::size_t maximumSize, FinalLink finalLink, int folder) {
    const int flags = O_RDONLY | O_NONBLOCK | O_CLOEXEC | (finalLink == FinalLink::refuse ? O_NOFOLLOW : 0);
    Descriptor file(::openat(folder, path.c_str(), flags));
    if (!file) {
        if (errno == ELOOP && finalLink == FinalLink::refuse) {
            return failure(ELOOP, "It is a symbolic link, which is not followed here");
        }
        return failure(errno);
    }
    struct ::stat record {};
    if (::fstat(file.get(), &record) != 0) {
        return failure(errno);
    }
    if (S_ISDIR(record.st_mode)) {
        return failure(EISDIR);
    }
    if (!S_ISREG(record.st_mode)) {
        return failure(EINVAL, std::string("It is ") + kindOfEntry(record.st_mode) + ", not a regular file");
    }
    if (static_cast<std::uint64_t>(record.st_size) > maximumSize) {
        return tooLarge(maximumSize);
    }
    WholeFile read;
    read.contents.reserve(static_cast<std::size_t>(record.st_size));
    char buffer[65536];
    for (;;) {
        const ssize_t count = ::read(file.get(), buffer, sizeof buffer);
        if (count < 0) {
            if (errno == EINTR) {
                continue;
            }
            return failure(errno);
        }
        if (count == 0) {
            return read;
        }
        // The file may have grown since it was measured.
        if (static_cast<std::size_t>(count) > maximumSize - read.contents.size()) {
            return tooLarge(maximumSize);
        }
        read.contents.append(buffer, static_cast<std::size_t>(count));
    }
}

std::string contentsOfFile(const URL& url, std::size_t maximumSize) {
    WholeFile read = readWholeFile(url.path(), maximumSize);
    if (read.error != 0) {
        throwReadError(read, url);
    }
    return std::move(read.contents);
}

std::string utf8ContentsOfFile(const URL& url, std::size_t maximumSize) {
    std::string contents = contentsOfFile(url, maximumSize);
    if (!isValidUTF8(contents)) {
        throw ErrorException(Error(Error::cocoaDomain, fileReadInapplicableStringEncodingCode,
                                   {{Error::localizedDescriptionKey,
                                     "The file \"" + url.lastPathComponent() + "\" is not UTF-8 text."},
                                    {Error::filePathKey, url.path()}}));
    }
    return contents;
}

Error readFailure(const WholeFile& read, const std::string& path) {
    return Error(Error::posixDomain, Error::posix(read.error, EIO).code(),
                 {{Error::localizedDescriptionKey, "The file " + path + " could not be read: " + read.cause + "."},
                  {Error::filePathKey, path}});
}

Error tooLargeForReader(const std::string& path, const std::string& what, std::size_t size,
                        std::size_t maximumSize) {
    return Error(Error::posixDomain, EFBIG,
                 {{Error::localizedDescriptionKey,
                   "The file " + path + " is not written: with " + what + " it would hold " + std::to_string(size) +
                       " bytes, over the limit of " + std::to_string(maximumSize) + " bytes that its reader takes."},
                  {Error::filePathKey, path}});
}

Error writeFailure(const Error& cause, const std::string& path) {
    std::string description = cause.description();
    if (description.find(path) == std::string::npos) {
        description = "The file " + path + " could not be written: " + description;
    }
    if (!description.ends_with(".")) {
        description += ".";
    }
    return Error(cause.domain(), cause.code(),
                 {{Error::localizedDescriptionKey, description},
                  {Error::underlyingErrorKey, std::make_shared<const Error>(cause)},
                  {Error::filePathKey, path}});
}

std::optional<std::string> readFileIfPresent(const std::string& path, std::size_t maximumSize,
                                             FinalLink finalLink, int folder) {
    WholeFile read = readWholeFile(path, maximumSize, finalLink, folder);
    if (read.error == ENOENT) {
        return std::nullopt;
    }
    if (read.error != 0) {
        throw ErrorException(readFailure(read, path));
    }
    return std::move(read.contents);
}

} // namespace velmor
