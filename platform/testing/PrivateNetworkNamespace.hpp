#pragma once

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <optional>
#include <sched.h>
#include <spawn.h>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace velmor::testing {

// Runs `ip` (iproute2) with the words of `arguments` in the calling thread's network namespace and
// waits for it; true when it succeeded.
inline bool ip(const std::string& arguments) {
    std::vector<std::string> words{"ip"};
    std::istringstream split(arguments);
    for (std::string word; split >> word;) {
        words.push_back(word);
    }
    std::vector<char*> argv;
    for (auto& word : words) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);
    // Its listings are of no use to the test; its complaints are.
    posix_spawn_file_actions_t quiet;
    ::posix_spawn_file_actions_init(&quiet);
    ::posix_spawn_file_actions_addopen(&quiet, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    // Set-up tools live in sbin, which a test's PATH may lack.
    for (const char* program : {"ip", "/usr/sbin/ip", "/sbin/ip"}) {
        pid_t child = 0;
        if (::posix_spawnp(&child, program, &quiet, nullptr, argv.data(), environ) != 0) {
            continue;
        }
        ::posix_spawn_file_actions_destroy(&quiet);
        int status = 0;
        while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
        }
        return WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }
    ::posix_spawn_file_actions_destroy(&quiet);
    return false;
}

// Runs `body` on a thread of its own that has moved into a new network namespace, where only a
// loopback link (down) exists; the namespace lives on while sockets made there are open. Nothing
// when it ran, else why it could not (the reason a test skips with): making a network namespace
// takes root, and `ip` must be installed.
inline std::optional<std::string> runInPrivateNetworkNamespace(const std::function<void()>& body) {
    std::optional<std::string> reason;
    std::thread([&] {
        if (::unshare(CLONE_NEWNET) != 0) {
            reason = std::string("cannot make a private network namespace: ") + std::strerror(errno);
            return;
        }
        if (!ip("link show lo")) {
            reason = "the ip tool (iproute2) is not available";
            return;
        }
        body();
    }).join();
    return reason;
}

} // namespace velmor::testing
