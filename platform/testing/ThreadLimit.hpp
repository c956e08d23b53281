#pragma once

#include <fstream>
#include <string>
#include <sys/resource.h>
#include <unistd.h>

namespace velmor::testing {

// The number of threads of the calling process.
inline long threadCount() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("Threads:", 0) == 0) {
            return std::stol(line.substr(8));
        }
    }
    return -1;
}

// Lets the calling process start at most `more` threads while the object lives: the process moves
// to a user id of its own, which no other process shares, and lowers its soft thread limit to what
// it runs plus `more`; the end puts the soft limit back (tools that check the process at exit
// need a thread). For a process made for the purpose (see ChildTestRun.hpp): the user id stays.
// Needs root (root itself is exempt from the limit); `failure()` gives the reason when it could
// not be done.
class ThreadLimit {
public:
    explicit ThreadLimit(long more) {
        if (::geteuid() != 0) {
            failure_ = "limiting threads needs root, to move to a user id of its own";
            return;
        }
        uid_t own = 0x60000000u + static_cast<uid_t>(::getpid());
        if (::setresgid(own, own, own) != 0 || ::setresuid(own, own, own) != 0) {
            failure_ = "cannot move to a user id of its own";
            return;
        }
        ::getrlimit(RLIMIT_NPROC, &previous_);
        rlimit lowered{static_cast<rlim_t>(threadCount() + more), previous_.rlim_max};
        if (::setrlimit(RLIMIT_NPROC, &lowered) != 0) {
            failure_ = "cannot lower the thread limit";
            return;
        }
        active_ = true;
    }
    ~ThreadLimit() {
        if (active_) {
            ::setrlimit(RLIMIT_NPROC, &previous_);
        }
    }
    ThreadLimit(const ThreadLimit&) = delete;
    ThreadLimit& operator=(const ThreadLimit&) = delete;

    const std::string& failure() const { return failure_; }

private:
    std::string failure_;
    rlimit previous_{};
    bool active_ = false;
};

} // namespace velmor::testing
