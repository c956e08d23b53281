#pragma once

#include <cerrno>
#include <cstring>
#include <sched.h>
#include <string>
#include <sys/mount.h>

namespace velmor::testing {

// Makes `path` the mount point of a small tmpfs that only this process sees; gives the reason when
// it cannot, and nothing when it could. For a forked child (or a test run in a fresh process): the
// other threads of a process would not see the mount.
inline std::string mountPrivateTmpfs(const std::string& path) {
    if (::unshare(CLONE_NEWNS) != 0) {
        return std::string("unshare(CLONE_NEWNS): ") + std::strerror(errno);
    }
    if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        ::mount("tmpfs", path.c_str(), "tmpfs", 0, "size=1m") != 0) {
        return std::string("mount: ") + std::strerror(errno);
    }
    return "";
}

} // namespace velmor::testing
