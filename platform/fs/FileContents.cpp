#include "platform/fs/FileContents.hpp"

#include "platform/fs/Descriptor.hpp"
#include "platform/text/UTF8.hpp"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace velmor {

namespace {

[[noreturn]] void throwReadError(int posixCode, const URL& url) {
    std::int64_t code = fileReadUnknownCode;
    if (posixCode == ENOENT || posixCode == ENOTDIR) {
        code = fileReadNoSuchFileCode;
    } else if (posixCode == EACCES || posixCode == EPERM) {
        code = fileReadNoPermissionCode;
    }
    const Error cause = Error::posix(posixCode, EIO);
    throw ErrorException(
        Error(Error::cocoaDomain, code,
              {{Error::localizedDescriptionKey, "The file \"" + url.lastPathComponent() +
                                                    "\" could not be read: " + cause.description() + "."},
               {Error::underlyingErrorKey, std::make_shared<const Error>(cause)},
               {Error::filePathKey, url.path()}}));
}

} // namespace

std::string contentsOfFile(const URL& url) {
    const int fd = ::open(url.path().c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        throwReadError(errno, url);
    }
    std::string contents;
    char buffer[65536];
    for (;;) {
        ssize_t count = ::read(fd, buffer, sizeof buffer);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count < 0) {
            const int code = errno;
            ::close(fd);
            throwReadError(code, url);
        }
        if (count == 0) {
            break;
        }
        contents.append(buffer, static_cast<std::size_t>(count));
    }
    ::close(fd);
    return contents;
}

std::string utf8ContentsOfFile(const URL& url) {
    std::string contents = contentsOfFile(url);
    if (!isValidUTF8(contents)) {
        throw ErrorException(Error(Error::cocoaDomain, fileReadInapplicableStringEncodingCode,
                                   {{Error::localizedDescriptionKey,
                                     "The file \"" + url.lastPathComponent() + "\" is not UTF-8 text."},
                                    {Error::filePathKey, url.path()}}));
    }
    return contents;
}

std::optional<std::string> readFileIfPresent(const std::string& path) {
    Descriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!file) {
        if (errno == ENOENT) {
            return std::nullopt;
        }
        throw ErrorException(Error::posixForPath(errno, path));
    }
    std::string contents;
    struct ::stat record {};
    if (::fstat(file.get(), &record) == 0 && S_ISREG(record.st_mode) && record.st_size > 0) {
        contents.reserve(static_cast<std::size_t>(record.st_size));
    }
    char buffer[65536];
    while (true) {
        ssize_t count = ::read(file.get(), buffer, sizeof buffer);
        if (count < 0) {
            if (errno == EINTR) {
                continue;
            }
            throw ErrorException(Error::posixForPath(errno, path));
        }
        if (count == 0) {
            return contents;
        }
        contents.append(buffer, static_cast<std::size_t>(count));
    }
}

} // namespace velmor
