// Compares the process runner with bare system calls: many short runs of /bin/true through the
// blocking form against posix_spawn + waitpid, and a large standard output captured by the
// callback form against a shell pipe into cat. The pipe into cat keeps none of the bytes, so the
// capture is also set against a bare read of the same output into one buffer already in memory:
// what keeping the bytes costs before any memory is found for them.
// The ratios are for the record, not limits: the runner's callers start a tool a few times with
// small outputs, and the runner is not tuned for these loads.
#include "BestOf.hpp"
#include "ShellCommand.hpp"

#include "foundation/core/process/NSTask.hpp"

#include <cstdio>
#include <cstdlib>
#include <future>
#include <spawn.h>
#include <sys/wait.h>
#include <vector>

extern char** environ;

namespace {

constexpr int shortRuns = 200;
constexpr std::size_t largeOutput = 256u << 20;

void bareTrueRuns() {
    char* argv[] = {const_cast<char*>("/bin/true"), nullptr};
    for (int i = 0; i < shortRuns; ++i) {
        pid_t child = 0;
        if (::posix_spawn(&child, "/bin/true", nullptr, nullptr, argv, environ) != 0) {
            std::fprintf(stderr, "posix_spawn failed\n");
            std::exit(1);
        }
        ::waitpid(child, nullptr, 0);
    }
}

void runnerTrueRuns() {
    for (int i = 0; i < shortRuns; ++i) {
        auto run = velmor::NSTask::run("/bin/true", {}, std::nullopt, 60);
        if (!run.result().isSuccess()) {
            std::fprintf(stderr, "run failed: %s\n", run.description().c_str());
            std::exit(1);
        }
    }
}

void runnerLargeOutput() {
    std::promise<std::size_t> captured;
    velmor::NSTask::run("/usr/bin/head", {"-c", "256M", "/dev/zero"}, std::nullopt,
                        [&](velmor::Result<std::int32_t>, velmor::NSTask::Bytes out, velmor::NSTask::Bytes,
                            std::shared_ptr<velmor::Process>) { captured.set_value(out.size()); });
    if (captured.get_future().get() != largeOutput) {
        std::fprintf(stderr, "output cut short\n");
        std::exit(1);
    }
}

// Reads the same output whole into `held`, which the caller has already touched, so no page is
// found or zeroed during the read. The stream reads the pipe a page at a time into its own buffer
// and copies from there: measured, no slower than reads straight into `held`.
void bareReadIntoHeldBuffer(std::vector<char>& held) {
    FILE* output = ::popen("head -c 256M /dev/zero", "r");
    if (output == nullptr) {
        std::perror("popen");
        std::exit(1);
    }
    std::size_t used = std::fread(held.data(), 1, held.size(), output);
    if (::pclose(output) != 0 || used != largeOutput) {
        std::fprintf(stderr, "bare read failed or cut short\n");
        std::exit(1);
    }
}

} // namespace

int main() {
    const int rounds = 5;
    double bare = bench::bestSeconds(rounds, bareTrueRuns);
    double runner = bench::bestSeconds(rounds, runnerTrueRuns);
    std::printf("%d runs of /bin/true: runner %.3f s, posix_spawn + waitpid %.3f s\n", shortRuns, runner,
                bare);
    std::printf("ratio NSTask / posix_spawn + waitpid, %d runs of /bin/true: %.2f\n", shortRuns,
                runner / bare);

    auto shellPipe = bench::shellCommand("head -c 256M /dev/zero | cat > /dev/null");
    double piped = bench::bestSeconds(rounds, shellPipe);
    double captured = bench::bestSeconds(rounds, runnerLargeOutput);
    std::printf("256 MiB of standard output: runner %.3f s, head | cat %.3f s\n", captured, piped);
    std::printf("ratio NSTask / head | cat, 256 MiB of standard output: %.2f\n", captured / piped);

    // One byte more than the output, so the last read sees the end rather than a full buffer.
    std::vector<char> held(largeOutput + 1, 1);
    double heldRead = bench::bestSeconds(rounds, [&] { bareReadIntoHeldBuffer(held); });
    std::printf("256 MiB of standard output: read into a buffer already in memory %.3f s\n", heldRead);
    std::printf("ratio NSTask / read into a buffer already in memory, 256 MiB: %.2f\n", captured / heldRead);
    std::printf("ratio read into a buffer already in memory / head | cat, 256 MiB: %.2f\n", heldRead / piped);
    return 0;
}
