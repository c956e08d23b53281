#pragma once

#include "platform/testing/ChildProcess.hpp"

#include <functional>
#include <grp.h>
#include <unistd.h>

namespace velmor::testing {

inline constexpr uid_t unprivilegedUser = 65534;
// A user id that no password database entry names.
inline constexpr uid_t userWithoutPasswordEntry = 54321;

// Runs `body` in a forked child as the unprivileged user (or `user`, with the same group id; no
// supplementary groups) and gives its exit code: `body`'s own result, or 125 when privileges could
// not be dropped. Needs root. `body` may rely on no thread of the parent: a test whose body starts
// tasks or scans after other work may have started threads runs itself in a fresh process first
// (`continuesInFreshProcess`).
inline int runAsUnprivilegedUser(const std::function<int()>& body, uid_t user = unprivilegedUser) {
    return runInChildProcess([&] {
        if (::setgroups(0, nullptr) != 0 || ::setresgid(user, user, user) != 0 ||
            ::setresuid(user, user, user) != 0) {
            return 125;
        }
        return body();
    });
}

} // namespace velmor::testing
