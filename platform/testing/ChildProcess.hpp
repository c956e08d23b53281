#pragma once

#include <functional>
#include <sys/wait.h>
#include <unistd.h>

namespace velmor::testing {

// Runs `body` in a forked child and gives its exit code (`body`'s result), or 128 + the signal that
// ended it. For what must not leak into the test process: dropped privileges, resource limits,
// process-wide state that is fixed on first use.
inline int runInChildProcess(const std::function<int()>& body) {
    pid_t child = ::fork();
    if (child == 0) {
        ::_exit(body());
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

} // namespace velmor::testing
