#include "platform/process/Process.hpp"

#include "platform/error/Error.hpp"

#include <cerrno>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace velmor {

namespace {

// The file error a failed launch reports, with the POSIX cause underneath.
[[noreturn]] void throwLaunchError(int posixCode, const std::string& path) {
    std::int64_t code = 256; // reading failed for an unknown reason
    if (posixCode == ENOENT || posixCode == ENOTDIR) {
        code = 4; // no such file
    } else if (posixCode == EACCES || posixCode == EPERM) {
        code = 257; // no permission to read
    }
    throw ErrorException(
        Error(Error::cocoaDomain, code,
              {{Error::underlyingErrorKey, std::make_shared<const Error>(Error::posix(posixCode))},
               {Error::filePathKey, path}}));
}

struct FileActions {
    posix_spawn_file_actions_t actions;
    FileActions() { ::posix_spawn_file_actions_init(&actions); }
    ~FileActions() { ::posix_spawn_file_actions_destroy(&actions); }
};

} // namespace

Process::Result Process::run(const std::string& executablePath, const std::vector<std::string>& arguments) {
    int output[2];
    if (::pipe2(output, O_CLOEXEC) != 0) {
        throwLaunchError(errno, executablePath);
    }
    FileActions files;
    ::posix_spawn_file_actions_addopen(&files.actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    ::posix_spawn_file_actions_adddup2(&files.actions, output[1], STDOUT_FILENO);

    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(executablePath.c_str()));
    for (const auto& argument : arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);

    pid_t child = 0;
    int spawnError =
        ::posix_spawn(&child, executablePath.c_str(), &files.actions, nullptr, argv.data(), environ);
    ::close(output[1]);
    if (spawnError != 0) {
        ::close(output[0]);
        throwLaunchError(spawnError, executablePath);
    }

    Result result;
    char buffer[65536];
    while (true) {
        ssize_t count = ::read(output[0], buffer, sizeof buffer);
        if (count > 0) {
            result.standardOutput.append(buffer, static_cast<std::size_t>(count));
        } else if (count == 0 || errno != EINTR) {
            break;
        }
    }
    ::close(output[0]);

    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    result.terminationStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return result;
}

} // namespace velmor
