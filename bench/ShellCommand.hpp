#pragma once

#include <cstdio>
#include <cstdlib>
#include <spawn.h>
#include <string>
#include <sys/wait.h>

extern char** environ;

namespace bench {

// A peer tool's run as a callable: the command goes through the shell, and a failure ends the
// benchmark, since its figures would mean nothing. The shell is spawned, not forked, so the peak
// memory of the children is the tools' own and not a copy of the benchmark's.
inline auto shellCommand(std::string command) {
    return [command = std::move(command)] {
        const char* argv[] = {"sh", "-c", command.c_str(), nullptr};
        pid_t child = 0;
        int status = 0;
        if (::posix_spawnp(&child, "sh", nullptr, nullptr, const_cast<char**>(argv), environ) != 0 ||
            ::waitpid(child, &status, 0) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            std::fprintf(stderr, "failed: %s\n", command.c_str());
            std::exit(1);
        }
    };
}

} // namespace bench
