#pragma once

#include <chrono>
#include <dirent.h>
#include <fcntl.h>
#include <future>
#include <grp.h>
#include <optional>
#include <poll.h>
#include <string>
#include <sys/file.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace velmor::testing {

// A process that takes an exclusive flock on a folder and on every entry in it that it can open,
// as `user` when one is given (needs root), and holds them until released or destroyed: what a
// user out to hold off the folder's writers can do, or a writer stopped while it held its lock.
// The child allocates nothing after the fork (the entries are listed before it), so threads of
// the test process cannot leave it waiting on a lock of theirs; it ends on its own after a minute.
class LockHolder {
public:
    explicit LockHolder(const std::string& folder, std::optional<uid_t> user = std::nullopt) {
        std::vector<std::string> names;
        if (DIR* entries = ::opendir(folder.c_str())) {
            while (const struct ::dirent* entry = ::readdir(entries)) {
                const std::string name = entry->d_name;
                if (name != "." && name != "..") {
                    names.push_back(name);
                }
            }
            ::closedir(entries);
        }
        int ready[2];
        int release[2];
        if (::pipe2(ready, O_CLOEXEC) != 0 || ::pipe2(release, O_CLOEXEC) != 0) {
            return;
        }
        child_ = ::fork();
        if (child_ == 0) {
            ::close(ready[0]);
            ::close(release[1]);
            if (user && (::setgroups(0, nullptr) != 0 || ::setresgid(*user, *user, *user) != 0 ||
                         ::setresuid(*user, *user, *user) != 0)) {
                ::_exit(125);
            }
            unsigned char held = 0;
            int directory = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            if (directory >= 0 && ::flock(directory, LOCK_EX | LOCK_NB) == 0) {
                ++held;
            }
            for (const auto& name : names) {
                int entry = ::openat(directory, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
                if (entry >= 0 && ::flock(entry, LOCK_EX | LOCK_NB) == 0) {
                    ++held;
                }
            }
            if (::write(ready[1], &held, 1) != 1) {
                ::_exit(1);
            }
            struct ::pollfd released {
                release[0], POLLIN, 0
            };
            ::poll(&released, 1, 60000);
            ::_exit(0);
        }
        ::close(ready[1]);
        ::close(release[0]);
        release_ = release[1];
        unsigned char held = 0;
        struct ::pollfd answer {
            ready[0], POLLIN, 0
        };
        if (child_ > 0 && ::poll(&answer, 1, 10000) == 1 && ::read(ready[0], &held, 1) == 1) {
            held_ = held;
        }
        ::close(ready[0]);
    }
    ~LockHolder() { release(); }
    LockHolder(const LockHolder&) = delete;
    LockHolder& operator=(const LockHolder&) = delete;

    // How many locks the holder took (the folder and the entries it could open); nothing when it
    // did not start or could not take the user's identity.
    std::optional<int> locksHeld() const { return held_; }

    // Ends the holder and with it its locks. Harmless when it is gone.
    void release() {
        if (release_ >= 0) {
            ::close(release_);
            release_ = -1;
        }
        if (child_ > 0) {
            ::waitpid(child_, nullptr, 0);
            child_ = -1;
        }
    }

private:
    pid_t child_ = -1;
    int release_ = -1;
    std::optional<int> held_;
};

// Runs `call` on a thread while `holder` holds its locks and tells whether it returned within
// `seconds`, a bound for a wait that would not end. When it did not, the holder is released, so the
// call ends and the test can go on to fail.
template <typename Call> bool returnsWhileHeld(LockHolder& holder, Call&& call, double seconds = 15) {
    auto running = std::async(std::launch::async, std::forward<Call>(call));
    const bool returned =
        running.wait_for(std::chrono::duration<double>(seconds)) == std::future_status::ready;
    if (!returned) {
        holder.release();
    }
    running.get();
    return returned;
}

} // namespace velmor::testing
