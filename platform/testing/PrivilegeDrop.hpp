#pragma once

#include "platform/testing/ChildProcess.hpp"

#include <functional>
#include <grp.h>
#include <unistd.h>

namespace velmor::testing {

inline constexpr uid_t unprivilegedUser = 65534;

// Runs `body` in a forked child as the unprivileged user (no supplementary groups) and gives its
// exit code: `body`'s own result, or 125 when privileges could not be dropped. Needs root.
inline int runAsUnprivilegedUser(const std::function<int()>& body) {
    return runInChildProcess([&] {
        if (::setgroups(0, nullptr) != 0 ||
            ::setresgid(unprivilegedUser, unprivilegedUser, unprivilegedUser) != 0 ||
            ::setresuid(unprivilegedUser, unprivilegedUser, unprivilegedUser) != 0) {
            return 125;
        }
        return body();
    });
}

} // namespace velmor::testing
