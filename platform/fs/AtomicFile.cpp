#include "platform/fs/AtomicFile.hpp"

#include "platform/error/Error.hpp"
#include "platform/fs/Descriptor.hpp"

#include <cerrno>
#include <fcntl.h>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

namespace velmor {

namespace {

std::string temporaryName(const std::string& name) {
    static constexpr char alphabet[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    thread_local std::mt19937_64 generator{std::random_device{}()};
    std::uniform_int_distribution<std::size_t> pick(0, sizeof alphabet - 2);
    // Hidden and ending in a random word, so it is never taken for a stored file.
    std::string result = "." + name + ".";
    for (int i = 0; i < 8; ++i) {
        result += alphabet[pick(generator)];
    }
    return result;
}

// A temporary file created with O_EXCL, so the umask and default ACLs apply as for a plain write
// (mkstemp would force 0600).
Descriptor createTemporary(int folder, const std::string& name, mode_t mode, std::string& temporary) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        temporary = temporaryName(name);
        int descriptor =
            ::openat(folder, temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
        if (descriptor >= 0 || errno != EEXIST) {
            return Descriptor(descriptor);
        }
    }
    errno = EEXIST;
    return Descriptor();
}

bool writeAll(int descriptor, std::string_view contents) {
    while (!contents.empty()) {
        ssize_t count = ::write(descriptor, contents.data(), contents.size());
        if (count < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        contents.remove_prefix(static_cast<std::size_t>(count));
    }
    return true;
}

} // namespace

void replaceFileAtomically(int folder, const std::string& folderPath, const std::string& name,
                           std::string_view contents, mode_t mode, ModeRule rule) {
    const std::string target = folderPath + "/" + name;
    std::string temporary;
    Descriptor file = createTemporary(folder, name, mode, temporary);
    if (!file) {
        throw ErrorException(Error::posixForPath(errno, target));
    }
    auto fail = [&](int code) {
        ::unlinkat(folder, temporary.c_str(), 0);
        throw ErrorException(Error::posixForPath(code, target));
    };
    if (rule == ModeRule::exact && ::fchmod(file.get(), mode) != 0) {
        fail(errno);
    }
    if (!writeAll(file.get(), contents) || ::fsync(file.get()) != 0) {
        fail(errno);
    }
    // close reports late write-back errors on some file systems (NFS).
    if (::close(file.release()) != 0) {
        fail(errno);
    }
    if (::renameat(folder, temporary.c_str(), folder, name.c_str()) != 0) {
        fail(errno);
    }
    if (::fsync(folder) != 0 && errno != EINVAL) {
        // The new content is in place; only its durability across a crash is in doubt.
        throw ErrorException(Error::posixForPath(errno, folderPath));
    }
}

void replaceFileAtomically(const std::string& folderPath, const std::string& name, std::string_view contents,
                           mode_t mode, ModeRule rule) {
    Descriptor folder(::open(folderPath.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!folder) {
        throw ErrorException(Error::posixForPath(errno, folderPath + "/" + name));
    }
    replaceFileAtomically(folder.get(), folderPath, name, contents, mode, rule);
}

} // namespace velmor
