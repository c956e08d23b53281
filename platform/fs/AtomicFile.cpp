#include "platform/fs/AtomicFile.hpp"

#include "platform/error/Error.hpp"
#include "platform/fs/Descriptor.hpp"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <random>
#include <string_view>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace velmor {

namespace {

std::atomic<bool> unnamedTemporariesAllowed{true};

constexpr char alphabet[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
constexpr std::size_t randomLength = 8;

constexpr std::string_view marker = ".velmor-tmp.";
constexpr std::string_view lockSuffix = ".velmor-lock";

// `name` cut to at most `room` bytes, at a UTF-8 character's start where there is one.
std::string cutToFit(const std::string& name, std::size_t room) {
    std::size_t length = name.size();
    if (length > room) {
        length = room;
        while (length > 0 && (static_cast<unsigned char>(name[length]) & 0xC0) == 0x80) {
            --length;
        }
        if (length == 0) {
            length = room;
        }
    }
    return name.substr(0, length);
}

// "." + the target's name + a marker + a random word: hidden, never taken for a stored file, and
// told apart from any other program's files by the marker, so a clean-up touches only what a write
// here made. The name is cut so the temporary's name fits wherever the target's does.
std::string temporaryPrefix(const std::string& name) {
    return "." + cutToFit(name, NAME_MAX - 1 - marker.size() - randomLength) + std::string(marker);
}

std::string temporaryName(const std::string& name) {
    thread_local std::mt19937_64 generator{std::random_device{}()};
    std::uniform_int_distribution<std::size_t> pick(0, sizeof alphabet - 2);
    std::string result = temporaryPrefix(name);
    for (std::size_t i = 0; i < randomLength; ++i) {
        result += alphabet[pick(generator)];
    }
    return result;
}

// Whether `entry` is a temporary that a write of the file with this temporary prefix made.
bool isTemporaryOf(std::string_view entry, std::string_view prefix) {
    if (entry.size() != prefix.size() + randomLength || !entry.starts_with(prefix)) {
        return false;
    }
    for (char c : entry.substr(prefix.size())) {
        if (std::string_view(alphabet).find(c) == std::string_view::npos) {
            return false;
        }
    }
    return true;
}

bool lockExclusively(int descriptor) {
    while (::flock(descriptor, LOCK_EX) != 0) {
        if (errno != EINTR) {
            return false;
        }
    }
    return true;
}

bool sameFile(const struct ::stat& a, const struct ::stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// A writer holds its temporary locked until the temporary is renamed, so one nobody holds was left
// by a writer of `name` that died. Only those are removed: the folder may be shared with other
// programs (a user's caches folder, say), whose files are none of this writer's business. Best
// effort: what cannot be examined is left alone.
void removeStaleTemporaries(int folder, const std::string& name) {
    const std::string prefix = temporaryPrefix(name);
    int listing = ::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (listing < 0) {
        return;
    }
    DIR* entries = ::fdopendir(listing);
    if (entries == nullptr) {
        ::close(listing);
        return;
    }
    while (const struct ::dirent* entry = ::readdir(entries)) {
        if ((entry->d_type != DT_REG && entry->d_type != DT_UNKNOWN) ||
            !isTemporaryOf(entry->d_name, prefix)) {
            continue;
        }
        Descriptor candidate(::openat(folder, entry->d_name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
        struct ::stat opened {};
        struct ::stat named {};
        if (!candidate || ::fstat(candidate.get(), &opened) != 0 || !S_ISREG(opened.st_mode) ||
            ::flock(candidate.get(), LOCK_EX | LOCK_NB) != 0) {
            continue;
        }
        if (::fstatat(folder, entry->d_name, &named, AT_SYMLINK_NOFOLLOW) == 0 && sameFile(opened, named)) {
            ::unlinkat(folder, entry->d_name, 0);
        }
    }
    ::closedir(entries);
}

// A named temporary file, created with O_EXCL so the umask and default ACLs apply as for a plain
// write (mkstemp would force 0600), and locked before anything is written to it.
Descriptor createNamedTemporary(int folder, const std::string& name, mode_t mode, std::string& temporary) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        temporary = temporaryName(name);
        Descriptor file(
            ::openat(folder, temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode));
        if (!file) {
            if (errno == EEXIST) {
                continue;
            }
            return file;
        }
        struct ::stat opened {};
        struct ::stat named {};
        if (!lockExclusively(file.get()) || ::fstat(file.get(), &opened) != 0) {
            int code = errno;
            ::unlinkat(folder, temporary.c_str(), 0);
            errno = code;
            return Descriptor();
        }
        // Another writer's clean-up may have taken it between its creation and the lock.
        if (::fstatat(folder, temporary.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 &&
            sameFile(opened, named)) {
            return file;
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

// Sets the mode, writes the contents and flushes them to disk; errno tells what failed.
bool fill(int file, std::string_view contents, mode_t mode, ModeRule rule) {
    return (rule != ModeRule::exact || ::fchmod(file, mode) == 0) && writeAll(file, contents) &&
           ::fsync(file) == 0;
}

// close reports late write-back errors on some file systems (NFS), so the file is closed before it
// replaces the target; `holder`, a second descriptor of it, keeps the lock until then.
bool closeKeepingLock(Descriptor& file, Descriptor& holder) {
    holder.reset(::fcntl(file.get(), F_DUPFD_CLOEXEC, 0));
    return holder && ::close(file.release()) == 0;
}

// Gives the unnamed file `file` a temporary name in the folder. False with errno set when it cannot.
bool linkUnnamed(int folder, int file, const std::string& name, std::string& temporary) {
    const std::string self = "/proc/self/fd/" + std::to_string(file);
    for (int attempt = 0; attempt < 100; ++attempt) {
        temporary = temporaryName(name);
        // Through /proc the link needs no privilege; without /proc, AT_EMPTY_PATH may still do.
        if (::linkat(AT_FDCWD, self.c_str(), folder, temporary.c_str(), AT_SYMLINK_FOLLOW) == 0 ||
            (errno == ENOENT && ::linkat(file, "", folder, temporary.c_str(), AT_EMPTY_PATH) == 0)) {
            return true;
        }
        if (errno != EEXIST) {
            return false;
        }
    }
    errno = EEXIST;
    return false;
}

enum class Outcome { done, unsupported };

// The write through a file that has no name until it is complete, so a writer killed midway leaves
// nothing behind. `unsupported` when the folder's file system cannot do it.
Outcome replaceThroughUnnamedFile(int folder, const std::string& target, const std::string& name,
                                  std::string_view contents, mode_t mode, ModeRule rule) {
    Descriptor file(::openat(folder, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, mode));
    if (!file) {
        // Kernels without O_TMPFILE open the folder itself and refuse writing it.
        if (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL) {
            return Outcome::unsupported;
        }
        throw ErrorException(Error::posixForPath(errno, target));
    }
    // Locked while it has its temporary name, so no clean-up takes it for a dead writer's.
    if (!lockExclusively(file.get()) || !fill(file.get(), contents, mode, rule)) {
        throw ErrorException(Error::posixForPath(errno, target));
    }
    std::string temporary;
    if (!linkUnnamed(folder, file.get(), name, temporary)) {
        return Outcome::unsupported;
    }
    Descriptor holder;
    if (!closeKeepingLock(file, holder) || ::renameat(folder, temporary.c_str(), folder, name.c_str()) != 0) {
        int code = errno;
        ::unlinkat(folder, temporary.c_str(), 0);
        throw ErrorException(Error::posixForPath(code, target));
    }
    return Outcome::done;
}

void replaceThroughNamedFile(int folder, const std::string& target, const std::string& name,
                             std::string_view contents, mode_t mode, ModeRule rule) {
    std::string temporary;
    Descriptor file = createNamedTemporary(folder, name, mode, temporary);
    if (!file) {
        throw ErrorException(Error::posixForPath(errno, target));
    }
    auto fail = [&](int code) {
        ::unlinkat(folder, temporary.c_str(), 0);
        throw ErrorException(Error::posixForPath(code, target));
    };
    Descriptor holder;
    if (!fill(file.get(), contents, mode, rule) || !closeKeepingLock(file, holder) ||
        ::renameat(folder, temporary.c_str(), folder, name.c_str()) != 0) {
        fail(errno);
    }
}

// A holder of a lock file lets it go by closing it, which inotify reports: a waiter watching for
// that tries again at once, rather than at moments of its own choosing, which against a writer that
// locks again straight away might never find it free. None when inotify is not to be had.
Descriptor watchCloses(int lock) {
    Descriptor closes(::inotify_init1(IN_CLOEXEC | IN_NONBLOCK));
    const std::string self = "/proc/self/fd/" + std::to_string(lock);
    if (closes && ::inotify_add_watch(closes.get(), self.c_str(), IN_CLOSE) < 0) {
        closes.reset();
    }
    return closes;
}

// Waits for a close that `closes` reports, or `limit`; without a watch, just `limit`.
void waitForClose(const Descriptor& closes, std::chrono::milliseconds limit) {
    if (!closes) {
        std::this_thread::sleep_for(limit);
        return;
    }
    struct ::pollfd ready {
        closes.get(), POLLIN, 0
    };
    if (::poll(&ready, 1, static_cast<int>(limit.count())) == 1) {
        alignas(struct ::inotify_event) char events[4096];
        while (::read(closes.get(), events, sizeof events) > 0) {
        }
    }
}

} // namespace

void allowUnnamedTemporaryFiles(bool allowed) {
    unnamedTemporariesAllowed = allowed;
}

void replaceFileAtomically(int folder, const std::string& folderPath, const std::string& name,
                           std::string_view contents, mode_t mode, ModeRule rule) {
    const std::string target = folderPath + "/" + name;
    removeStaleTemporaries(folder, name);
    if (!unnamedTemporariesAllowed ||
        replaceThroughUnnamedFile(folder, target, name, contents, mode, rule) == Outcome::unsupported) {
        replaceThroughNamedFile(folder, target, name, contents, mode, rule);
    }
    if (::fsync(folder) != 0 && errno != EINVAL) {
        // The new content is in place; only its durability across a crash is in doubt.
        throw ErrorException(Error::posixForPath(errno, folderPath));
    }
}

Descriptor lockWriters(int folder, const std::string& folderPath, const std::string& name, mode_t mode,
                       std::chrono::milliseconds patience) {
    const std::string target = folderPath + "/" + name;
    const std::string lockName =
        "." + cutToFit(name, NAME_MAX - 1 - lockSuffix.size()) + std::string(lockSuffix);
    const std::string lockPath = folderPath + "/" + lockName;
    auto failure = [&](int code, const std::string& why) {
        return ErrorException(
            Error(Error::posixDomain, Error::posix(code, EIO).code(),
                  {{Error::localizedDescriptionKey, "The file " + target + " cannot be written: " + why},
                   {Error::filePathKey, target}}));
    };
    // Opened for reading only: a lock needs no more, and a monitor of the folder sees no write.
    Descriptor lock(::openat(folder, lockName.c_str(),
                             O_RDONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, mode));
    if (!lock) {
        const int code = errno;
        throw failure(code,
                      "its lock file " + lockPath + " cannot be opened: " + ::strerrordesc_np(code) + ".");
    }
    struct ::stat record {};
    if (::fstat(lock.get(), &record) != 0 || !S_ISREG(record.st_mode)) {
        throw failure(EINVAL, "its lock file " + lockPath + " is no regular file.");
    }
    // Whoever can open the lock file can hold the writers off: it must be this user's or root's, and
    // open to no one else.
    if (record.st_uid != ::geteuid() && record.st_uid != 0) {
        throw failure(EPERM, "its lock file " + lockPath + " belongs to another user (" +
                                 std::to_string(record.st_uid) + ").");
    }
    if ((record.st_mode & 07777) != mode && ::fchmod(lock.get(), mode) != 0) {
        if ((record.st_mode & 07777 & ~mode) != 0) {
            throw failure(EPERM, "its lock file " + lockPath +
                                     " is open to other users, and its mode cannot be changed here.");
        }
    }
    const auto deadline = std::chrono::steady_clock::now() + patience;
    Descriptor closes;
    bool watching = false;
    for (;;) {
        if (::flock(lock.get(), LOCK_EX | LOCK_NB) == 0) {
            break;
        }
        const int code = errno;
        if (code == EINTR) {
            continue;
        }
        if (code != EWOULDBLOCK) {
            throw failure(code, "its lock file " + lockPath +
                                    " cannot be locked: " + ::strerrordesc_np(code) + ".");
        }
        const auto now = std::chrono::steady_clock::now();
        if (now >= deadline) {
            throw failure(ETIMEDOUT, "another writer has held its lock file " + lockPath + " for " +
                                         std::to_string(patience.count()) + " ms; nothing was changed.");
        }
        if (!watching) {
            // Set before the next try, so no release after it goes unseen.
            closes = watchCloses(lock.get());
            watching = true;
            continue;
        }
        waitForClose(closes, std::min(std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now),
                                      std::chrono::milliseconds(closes ? 100 : 5)));
    }
    return lock;
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
