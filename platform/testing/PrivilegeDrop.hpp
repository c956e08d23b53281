#pragma once

#include <functional>
#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

namespace velmor::testing {

inline constexpr uid_t unprivilegedUser = 65534;
// A user id that no password database entry names.
inline constexpr uid_t userWithoutPasswordEntry = 54321;

// Runs `body` in a forked child as the unprivileged user (or `user`, with the same group id; no
// supplementary groups) and gives its exit code: `body`'s own result, or 125 when privileges could
// not be dropped. Needs root.
inline int runAsUnprivilegedUser(const std::function<int()>& body, uid_t user = unprivilegedUser) {
    pid_t child = ::fork();
    if (child == 0) {
        if (::setgroups(0, nullptr) != 0 || ::setresgid(user, user, user) != 0 ||
            ::setresuid(user, user, user) != 0) {
            ::_exit(125);
        }
        ::_exit(body());
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

} // namespace velmor::testing
