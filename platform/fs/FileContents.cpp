#include "platform/fs/FileContents.hpp"

#include "platform/error/Error.hpp"
#include "platform/fs/FileDescriptor.hpp"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>

namespace velmor {

std::optional<std::string> readFileIfPresent(const std::string& path) {
    FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
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
