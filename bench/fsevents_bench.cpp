// Time until a watch of a tree of 20,000 folders is in place, against `inotifywait -r -m`, which
// says "Watches established." once it has walked the tree and added its watches.
#include "BestOf.hpp"

#include "platform/fsevents/FSEventStream.hpp"

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <signal.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

// 20 folders of 20 folders of 50 folders: 20,000 leaves and 420 folders above them.
void makeTree(const std::string& root) {
    for (int a = 0; a < 20; ++a) {
        for (int b = 0; b < 20; ++b) {
            for (int c = 0; c < 50; ++c) {
                std::filesystem::create_directories(root + "/" + std::to_string(a) + "/" + std::to_string(b) + "/" +
                                                    std::to_string(c));
            }
        }
    }
}

void peerRun(const std::string& root) {
    int pipe[2];
    if (::pipe2(pipe, O_CLOEXEC) != 0) {
        std::perror("pipe2");
        std::exit(1);
    }
    posix_spawn_file_actions_t actions;
    ::posix_spawn_file_actions_init(&actions);
    ::posix_spawn_file_actions_adddup2(&actions, pipe[1], STDERR_FILENO);
    ::posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    // Not quiet: the ready line is what -q takes away. Events go to standard output, unread.
    const char* argv[] = {"inotifywait", "-r", "-m", root.c_str(), nullptr};
    pid_t child = 0;
    if (::posix_spawnp(&child, "inotifywait", &actions, nullptr, const_cast<char**>(argv), environ) != 0) {
        std::fprintf(stderr, "failed to start inotifywait (scripts/bench.sh installs inotify-tools)\n");
        std::exit(1);
    }
    ::posix_spawn_file_actions_destroy(&actions);
    ::close(pipe[1]);
    std::string seen;
    char buffer[4096];
    while (seen.find("Watches established.") == std::string::npos) {
        ssize_t count = ::read(pipe[0], buffer, sizeof buffer);
        if (count <= 0) {
            std::fprintf(stderr, "inotifywait ended before its watches were established: %s\n", seen.c_str());
            std::exit(1);
        }
        seen.append(buffer, static_cast<std::size_t>(count));
    }
    ::kill(child, SIGTERM);
    ::waitpid(child, nullptr, 0);
    ::close(pipe[0]);
}

} // namespace

int main() {
    char pattern[] = "/tmp/velmor-fsevents-bench-XXXXXX";
    if (::mkdtemp(pattern) == nullptr) {
        std::perror("mkdtemp");
        return 1;
    }
    std::string root = std::string(pattern) + "/tree";
    makeTree(root);

    constexpr int runs = 5;
    double ours = bench::bestSeconds(runs, [&] {
        velmor::FSEventStream stream(root, 0.5, velmor::FSEventStream::Scope::path, [] {});
        if (!stream.start()) {
            std::fprintf(stderr, "no watch could be set up\n");
            std::exit(1);
        }
    });
    double peer = bench::bestSeconds(runs, [&] { peerRun(root); });

    std::filesystem::remove_all(pattern);
    std::printf("watch ready over 20,000 folders: ours %.3f s, inotifywait %.3f s\n", ours, peer);
    std::printf("ratio watch ready / inotifywait: %.2f\n", ours / peer);
    return 0;
}
