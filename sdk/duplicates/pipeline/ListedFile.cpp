#include "sdk/duplicates/pipeline/ListedFile.hpp"

#include "platform/fs/Stat.hpp"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace sweepkit::pipeline {

namespace {

using velmor::Error;
using velmor::ErrorException;
using velmor::Stat;

// Whether the open file is the one the walk listed: same device, inode, size and modification time.
bool isListedFile(const Stat& now, const Stat& listed) {
    return now.st_dev == listed.st_dev && now.st_ino == listed.st_ino && now.st_size == listed.st_size &&
           now.st_mtimespec == listed.st_mtimespec;
}

// Reading must not make an old file look recently opened. Only the owner (or a privileged user)
// may ask for that, so the flag is asked for only then, and dropped when refused all the same.
int openForReading(const std::string& path, const Stat* listed) {
    constexpr int flags = O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
    const uid_t user = ::geteuid();
    if (listed == nullptr || user == 0 || user == listed->st_uid) {
        int descriptor = ::open(path.c_str(), flags | O_NOATIME);
        if (descriptor >= 0 || errno != EPERM) {
            return descriptor;
        }
    }
    return ::open(path.c_str(), flags);
}

} // namespace

Error ListedFile::changedError(const std::string& path) {
    return Error("sweepkit.ListedFile", 0,
                 {{Error::localizedDescriptionKey, std::string("The file changed since it was listed.")},
                  {Error::filePathKey, path}});
}

ListedFile::ListedFile(const Event& event) : path_(event.path()) {
    const Stat* listed = event.stat();
    descriptor_ = openForReading(path_, listed);
    if (descriptor_ < 0) {
        // With O_NOFOLLOW, ELOOP means a symbolic link stands where the file was listed.
        const int code = errno;
        throw ErrorException(code == ELOOP ? changedError(path_) : Error::posixForPath(code, path_));
    }
    struct ::stat record {};
    if (::fstat(descriptor_, &record) != 0) {
        const int code = errno;
        ::close(descriptor_);
        throw ErrorException(Error::posixForPath(code, path_));
    }
    const Stat now = Stat::fromLinux(record);
    if (!S_ISREG(record.st_mode) || (listed != nullptr && !isListedFile(now, *listed))) {
        ::close(descriptor_);
        throw ErrorException(changedError(path_));
    }
    size_ = listed != nullptr ? listed->st_size : now.st_size;
}

ListedFile::~ListedFile() {
    ::close(descriptor_);
}

std::size_t ListedFile::read(std::span<std::uint8_t> buffer) {
    std::size_t filled = 0;
    while (filled < buffer.size()) {
        ssize_t count = ::read(descriptor_, buffer.data() + filled, buffer.size() - filled);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count < 0) {
            throw ErrorException(Error::posixForPath(errno, path_));
        }
        if (count == 0) {
            break;
        }
        filled += static_cast<std::size_t>(count);
    }
    return filled;
}

} // namespace sweepkit::pipeline
