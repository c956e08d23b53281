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

// Lets the calling process start at most `more` threads from now on: it moves to a user id of its
// own, which no other process shares, and lowers its thread limit to what it runs plus `more`.
// For a process made for the purpose (see ChildTestRun.hpp); it cannot be undone. Needs root
// (root itself is exempt from the limit); gives the reason when it cannot be done, else "".
inline std::string limitThreads(long more) {
    if (::geteuid() != 0) {
        return "limiting threads needs root, to move to a user id of its own";
    }
    uid_t own = 0x60000000u + static_cast<uid_t>(::getpid());
    if (::setresgid(own, own, own) != 0 || ::setresuid(own, own, own) != 0) {
        return "cannot move to a user id of its own";
    }
    rlim_t limit = static_cast<rlim_t>(threadCount() + more);
    rlimit value{limit, limit};
    if (::setrlimit(RLIMIT_NPROC, &value) != 0) {
        return "cannot lower the thread limit";
    }
    return "";
}

} // namespace velmor::testing
