#include "platform/process/Process.hpp"

#include "platform/dispatch/SerialQueue.hpp"
#include "platform/error/Error.hpp"
#include "platform/testing/ChildTestRun.hpp"
#include "platform/testing/DescriptorLimit.hpp"
#include "platform/testing/ReadToEnd.hpp"
#include "platform/testing/Watchdog.hpp"

#include <csignal>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <future>
#include <gtest/gtest.h>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

namespace velmor {

namespace {

using testing::readToEnd;

// Whether the test process has any child left, running or a zombie, without reaping it.
bool hasUnreapedChild() {
    siginfo_t info{};
    // Fails with ECHILD only when there is no child at all.
    return ::waitid(P_ALL, 0, &info, WEXITED | WNOHANG | WNOWAIT) == 0;
}

// One of the signal sets a process shows in /proc/PID/status ("SigBlk", "SigIgn", "SigCgt").
std::uint64_t signalSet(const std::string& status, const std::string& name) {
    std::istringstream lines(status);
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind(name + ":", 0) == 0) {
            return std::stoull(line.substr(name.size() + 1), nullptr, 16);
        }
    }
    ADD_FAILURE() << name << " missing from " << status;
    return 0;
}

constexpr std::uint64_t bit(int signal) {
    return std::uint64_t{1} << (signal - 1);
}

} // namespace

TEST(Process, TheProgramStartsWithNothingBlockedAndSigpipeAtItsDefault) {
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    struct sigaction previousPipe {};
    struct sigaction previousHangup {};
    ::sigaction(SIGPIPE, &ignore, &previousPipe);
    ::sigaction(SIGHUP, &ignore, &previousHangup);
    sigset_t blocked;
    sigset_t previousMask;
    sigemptyset(&blocked);
    sigaddset(&blocked, SIGUSR2);
    ::pthread_sigmask(SIG_BLOCK, &blocked, &previousMask);

    // cat is the program itself here, no shell between: the sets are those it started with.
    auto status = Process::run("/bin/cat", {"/proc/self/status"}).standardOutput;

    ::pthread_sigmask(SIG_SETMASK, &previousMask, nullptr);
    ::sigaction(SIGPIPE, &previousPipe, nullptr);
    ::sigaction(SIGHUP, &previousHangup, nullptr);
    EXPECT_EQ(signalSet(status, "SigBlk"), 0u) << "the launching thread's mask is not the program's";
    EXPECT_EQ(signalSet(status, "SigIgn") & bit(SIGPIPE), 0u) << "a writer to a closed pipe must stop";
    EXPECT_NE(signalSet(status, "SigIgn") & bit(SIGHUP), 0u) << "other ignored signals stay ignored";
}

TEST(Process, TheProgramGetsOnlyItsThreeStreams) {
    // Descriptors this process holds without close-on-exec, as a host or a library may leave them.
    int plain = ::open("/dev/null", O_RDONLY);
    ASSERT_GE(plain, 0);
    int high = ::fcntl(plain, F_DUPFD, 200);
    ASSERT_GE(high, 0);
    // The shell lists its own descriptors; ls would add the one of the folder it reads.
    auto listed = Process::run("/bin/sh", {"-c", "ls /proc/$$/fd"}).standardOutput;
    ::close(plain);
    ::close(high);
    EXPECT_EQ(listed, "0\n1\n2\n");
}

TEST(Process, AStreamOnTheDescriptorItIsGivenAsStillReachesTheProgram) {
    // With standard input closed, the next pipe's read end is descriptor 0: the very descriptor the
    // program reads, which must survive the program's start although made close-on-exec.
    if (!testing::isChildTestRun()) {
        EXPECT_EQ(testing::runCurrentTestInChild(), 0);
        return;
    }
    ::close(STDIN_FILENO);
    auto input = Pipe::make();
    ASSERT_EQ(input->readDescriptor(), STDIN_FILENO);
    auto output = Pipe::make();
    auto process = Process::make();
    process->executablePath = "/bin/cat";
    process->standardInput = input;
    process->standardOutput = output;
    process->launch();
    ASSERT_EQ(::write(input->writeDescriptor(), "kept", 4), 4);
    input->closeWriteDescriptor();
    EXPECT_EQ(readToEnd(output->readDescriptor()), "kept");
    process->waitUntilExit();
    EXPECT_EQ(process->terminationStatus(), 0);
}

TEST(Process, CollectsStandardOutputAndStatus) {
    auto result = Process::run("/bin/sh", {"-c", "printf 'one\\ntwo'; exit 3"});
    EXPECT_EQ(result.standardOutput, "one\ntwo");
    EXPECT_EQ(result.terminationStatus, 3);

    // Larger than a pipe's buffer: the reader must drain while the tool writes.
    auto large = Process::run("/bin/sh", {"-c", "head -c 300000 /dev/zero"});
    EXPECT_EQ(large.standardOutput.size(), 300000u);

    EXPECT_EQ(Process::run("/bin/sh", {"-c", "kill -KILL $$"}).terminationStatus, 128 + SIGKILL);
}

TEST(Process, LaunchErrorsCarryTheirPosixCause) {
    struct Case {
        std::string path;
        std::vector<std::string> arguments;
        std::int64_t code;
        int posix;
    };
    for (const Case& c : {Case{"/nonexistent/tool", {"-s", "/"}, 4, ENOENT},
                          Case{std::string("/bin/sh\0-x", 10), {}, 256, EINVAL},
                          Case{"/bin/echo", {std::string("a\0b", 3)}, 256, EINVAL}}) {
        SCOPED_TRACE(c.path);
        auto process = Process::make();
        process->executablePath = c.path;
        process->arguments = c.arguments;
        try {
            process->launch();
            FAIL() << "no error";
        } catch (const ErrorException& thrown) {
            EXPECT_EQ(thrown.error().domain(), Error::cocoaDomain);
            EXPECT_EQ(thrown.error().code(), c.code);
            ASSERT_TRUE(thrown.error().underlyingError());
            EXPECT_EQ(thrown.error().underlyingError()->code(), c.posix);
            EXPECT_EQ(thrown.error().description(),
                      "Cannot start " + std::string(c.path.c_str()) + ": " + ::strerrordesc_np(c.posix));
        }
        EXPECT_FALSE(process->isRunning());
    }
}

TEST(Process, ALaunchWithNoDescriptorLeftNamesTheCauseAndTheProgram) {
    if (!testing::continuesInFreshProcess()) {
        return;
    }
    auto launchError = [](const std::string& path) {
        auto process = Process::make();
        process->executablePath = path;
        try {
            process->launch();
        } catch (const ErrorException& thrown) {
            return thrown.error().description();
        }
        return std::string("no error");
    };
    // Once while descriptors are to be had: a sanitizer checking these types for the first time
    // needs one.
    EXPECT_EQ(launchError("/nonexistent/tool"), "Cannot start /nonexistent/tool: No such file or directory");
    // Every descriptor below the limit is in use.
    int firstFree = ::dup(STDIN_FILENO);
    ASSERT_GE(firstFree, 0);
    ::close(firstFree);
    std::string description;
    {
        const testing::DescriptorLimit lowered(static_cast<rlim_t>(firstFree));
        ASSERT_TRUE(lowered.applied());
        description = launchError("/bin/true");
    }
    EXPECT_EQ(description, "Cannot start /bin/true: Too many open files");
}

TEST(Process, ReportsTheEndAndRunsTheHandlerOnce) {
    testing::Watchdog watchdog("process end");
    auto process = Process::make();
    process->executablePath = "/bin/sh";
    process->arguments = {"-c", "exit 7"};
    process->standardOutput = Process::NullDevice{};
    std::promise<int> handled;
    process->terminationHandler = [&](Process& ended) { handled.set_value(ended.terminationStatus()); };
    process->launch();
    EXPECT_GT(process->processIdentifier(), 0);
    process->waitUntilExit();
    EXPECT_FALSE(process->isRunning());
    EXPECT_EQ(process->terminationReason(), Process::TerminationReason::exit);
    EXPECT_EQ(process->terminationStatus(), 7);
    EXPECT_EQ(handled.get_future().get(), 7);

    auto killed = Process::make();
    killed->executablePath = "/bin/sleep";
    killed->arguments = {"30"};
    killed->launch();
    killed->interrupt();
    killed->waitUntilExit();
    EXPECT_EQ(killed->terminationReason(), Process::TerminationReason::uncaughtSignal);
    EXPECT_EQ(killed->terminationStatus(), SIGINT);
}

TEST(Process, TheHandlerRunsAfterReapingOnTheQueueGivenElseOnAPoolThread) {
    testing::Watchdog watchdog("termination handler");
    SerialQueue given("process-test.termination");
    struct Seen {
        bool running;
        int status;
        bool onGivenQueue;
    };
    // Outlive the loop: a handler may still be returning from `set_value` when its turn ends.
    std::promise<Seen> seen[2];
    for (bool onQueue : {false, true}) {
        SCOPED_TRACE(onQueue ? "on the given queue" : "on a pool thread");
        auto process = Process::make();
        process->executablePath = "/bin/sh";
        process->arguments = {"-c", "exit 4"};
        if (onQueue) {
            process->terminationQueue = given;
        }
        process->terminationHandler = [&, onQueue](Process& ended) {
            seen[onQueue].set_value({ended.isRunning(), ended.terminationStatus(), given.isCurrent()});
        };
        process->launch();
        Seen handled = seen[onQueue].get_future().get();
        EXPECT_FALSE(handled.running);
        EXPECT_EQ(handled.status, 4);
        EXPECT_EQ(handled.onGivenQueue, onQueue);
    }
}

TEST(Process, TerminateEndsTheWholeGroupEvenWhenAChildHoldsThePipe) {
    testing::Watchdog watchdog("group terminate");
    auto output = Pipe::make();
    auto process = Process::make();
    process->executablePath = "/bin/sh";
    // The background sleep keeps standard output open after the shell is gone.
    process->arguments = {"-c", "sleep 30 & echo started; wait"};
    process->standardOutput = output;
    process->launch();
    char byte = 0;
    ASSERT_EQ(::read(output->readDescriptor(), &byte, 1), 1);
    process->terminate();
    // The end of the pipe shows the background child ended with its group.
    readToEnd(output->readDescriptor());
    process->waitUntilExit();
    EXPECT_EQ(process->terminationReason(), Process::TerminationReason::uncaughtSignal);
    EXPECT_EQ(process->terminationStatus(), SIGTERM);
}

TEST(Process, EveryChildIsReapedAndSignalsAfterwardsReachNobody) {
    testing::Watchdog watchdog("reaping");
    std::shared_ptr<Process> kept;
    {
        // Nobody keeps this one.
        auto dropped = Process::make();
        dropped->executablePath = "/bin/true";
        dropped->launch();
        kept = Process::make();
        kept->executablePath = "/bin/true";
        kept->launch();
    }
    kept->waitUntilExit();
    while (hasUnreapedChild()) {
        ::usleep(1000);
    }
    // The group is gone; the calls must not signal whatever has its id now.
    kept->terminate();
    kept->kill();
    EXPECT_FALSE(kept->isRunning());
}

} // namespace velmor
