#include "foundation/core/process/NSTask.hpp"

#include "platform/dispatch/ManualTimerService.hpp"
#include "platform/testing/ChildTestRun.hpp"
#include "platform/testing/Watchdog.hpp"

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <future>
#include <gtest/gtest.h>
#include <new>
#include <string_view>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>

namespace velmor {

namespace {

using Bytes = NSTask::Bytes;

Bytes bytesOf(const std::string& text) {
    return Bytes(text.begin(), text.end());
}

Bytes pattern(std::size_t size) {
    Bytes bytes(size);
    for (std::size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<std::uint8_t>(i * 7 + i / 1000);
    }
    return bytes;
}

// The blocking form of a run with a time-out of 5 s on `clock`, made to time out while the tool
// runs. The launch follows the call on the run's queue, so time moves only once a child is there;
// other work may have timers pending too, so it moves until the wait gives up.
NSTask::SynchronousRunResult runUntilTimedOut(ManualTimerService& clock, const std::string& path,
                                              std::vector<std::string> arguments) {
    auto waiting = std::async(std::launch::async, [&path, arguments = std::move(arguments)] {
        return NSTask::run(path, arguments, std::nullopt, 5);
    });
    siginfo_t child{};
    while (::waitid(P_ALL, 0, &child, WEXITED | WNOHANG | WNOWAIT) != 0) {
        std::this_thread::yield();
    }
    clock.advanceUntil([&] { return waiting.wait_for(std::chrono::seconds(0)) == std::future_status::ready; },
                       5);
    return waiting.get();
}

// Far longer than any of these runs takes on the real clock: a run that hangs fails as a time-out.
constexpr double generousTimeout = 600;

} // namespace

TEST(NSTask, BlockingRunsOverATableOfTools) {
    testing::Watchdog watchdog("blocking runs", 120);
    struct Case {
        const char* name;
        std::string path;
        std::vector<std::string> arguments;
        std::optional<Bytes> input;
        std::optional<std::int32_t> status; // else the POSIX error expected
        int posixError;
        Bytes expectedOutput;
    };
    Bytes mebibyte = pattern(1 << 20);
    for (const Case& c : {
             Case{"status and output",
                  "/bin/sh",
                  {"-c", "printf a; exit 3"},
                  std::nullopt,
                  3,
                  0,
                  bytesOf("a")},
             Case{"input echoed", "/bin/cat", {}, mebibyte, 0, 0, mebibyte},
             Case{"no input ends standard input", "/bin/cat", {}, std::nullopt, 0, 0, {}},
             Case{"input to a tool that never reads it", "/bin/true", {}, mebibyte, std::nullopt, EPIPE, {}},
         }) {
        SCOPED_TRACE(c.name);
        auto run = NSTask::run(c.path, c.arguments, c.input, generousTimeout);
        if (c.status) {
            ASSERT_TRUE(run.result().isSuccess()) << run.result().error().description();
            EXPECT_EQ(run.result().value(), *c.status);
            EXPECT_EQ(run.stdout(), c.expectedOutput);
        } else {
            ASSERT_FALSE(run.result().isSuccess());
            EXPECT_EQ(run.result().error(), Error::posix(c.posixError));
        }
        EXPECT_TRUE(run.stderr().empty());
        ASSERT_TRUE(run.internalProcess());
        EXPECT_FALSE(run.internalProcess()->isRunning());
    }
    // The test process is still here: no SIGPIPE reached it.
    sigset_t pending;
    sigemptyset(&pending);
    ::sigpending(&pending);
    EXPECT_FALSE(sigismember(&pending, SIGPIPE));
}

// A host that ignores SIGCHLD, or reaps every child itself, takes the tool's status away: the run
// must then fail with ECHILD, never report success.
TEST(NSTask, AStatusThatCannotBeLearnedIsAFailure) {
    const char* host = std::getenv("NSTASK_TEST_HOST");
    if (!testing::isChildTestRun()) {
        for (const char* kind : {"ignores-sigchld", "reaps-all"}) {
            SCOPED_TRACE(kind);
            EXPECT_EQ(testing::waitForChildTest(
                          testing::startCurrentTestInChild({std::string("NSTASK_TEST_HOST=") + kind})),
                      0);
        }
        return;
    }
    testing::Watchdog watchdog("runs in a host that reaps", 120);
    std::atomic<bool> stop{false};
    std::thread reaper;
    if (std::string(host) == "ignores-sigchld") {
        ::signal(SIGCHLD, SIG_IGN);
    } else {
        reaper = std::thread([&] {
            while (!stop) {
                if (::waitpid(-1, nullptr, 0) < 0) {
                    ::usleep(100);
                }
            }
        });
    }
    int failures = 0;
    for (int i = 0; i < 30; ++i) {
        auto run = NSTask::run("/bin/sh", {"-c", "exit 3"}, std::nullopt, generousTimeout);
        if (run.result().isSuccess()) {
            EXPECT_EQ(run.result().value(), 3) << "run " << i;
        } else {
            EXPECT_EQ(run.result().error(), Error::posix(ECHILD)) << run.result().error().description();
            ++failures;
        }
    }
    // Ignored, the kernel reaps every one of them.
    if (std::string(host) == "ignores-sigchld") {
        EXPECT_EQ(failures, 30);
        EXPECT_THROW(Process::run("/bin/sh", {"-c", "exit 3"}), ErrorException);
        EXPECT_THROW(NSTask::run(URL::fileURL("/bin/sh"), {"-c", "exit 3"}), ErrorException);
    }
    stop = true;
    if (reaper.joinable()) {
        reaper.join();
    }
}

TEST(NSTask, AMissingToolFailsAtOnceWithItsLaunchError) {
    auto clock = std::make_shared<ManualTimerService>();
    ScopedTimerService scoped(clock);
    testing::Watchdog watchdog("missing tool");
    // The clock never moves: only the completion can end the wait.
    auto run = NSTask::run("/nonexistent/tool", {}, std::nullopt, 60);
    ASSERT_FALSE(run.result().isSuccess());
    EXPECT_EQ(run.result().error().domain(), Error::cocoaDomain);
    EXPECT_EQ(run.result().error().code(), 4);
    ASSERT_TRUE(run.internalProcess());
    EXPECT_FALSE(run.internalProcess()->isRunning());
}

TEST(NSTask, ATimeOutReturnsTheRunningTaskForTheCallerToStop) {
    auto clock = std::make_shared<ManualTimerService>();
    ScopedTimerService scoped(clock);
    testing::Watchdog watchdog("time-out");
    auto run = runUntilTimedOut(*clock, "/bin/sleep", {"30"});
    ASSERT_FALSE(run.result().isSuccess());
    EXPECT_EQ(run.result().error(), TypedError<NSTask::SynchronousRunResult::RunError>(
                                        NSTask::SynchronousRunResult::RunError::timeout)
                                        .toError());
    EXPECT_TRUE(run.stdout().empty());
    EXPECT_TRUE(run.stderr().empty());
    ASSERT_TRUE(run.internalProcess());
    // `sleep 30` cannot end by itself within this test; the launch step may still be recording it.
    while (!run.internalProcess()->isRunning()) {
        std::this_thread::yield();
    }
    run.internalProcess()->terminate();
    run.internalProcess()->waitUntilExit();
    EXPECT_EQ(run.internalProcess()->terminationStatus(), SIGTERM);
}

// After its time-out nobody can receive a run's output: the run drains the pipes, so the tool is
// not blocked, but keeps none of it. Measured by the peak memory of a fresh process.
TEST(NSTask, ATimedOutRunDrainsItsOutputWithoutKeepingIt) {
    if (!testing::isChildTestRun()) {
        EXPECT_EQ(testing::runCurrentTestInChild(), 0);
        return;
    }
    auto peakKiB = [] {
        rusage usage{};
        ::getrusage(RUSAGE_SELF, &usage);
        return usage.ru_maxrss;
    };
    long before = peakKiB();
    // A quarter of the output; the address sanitizer also holds on to what was freed, up to 256 MiB.
    long allowedGrowthKiB = 128 << 10;
#if defined(__SANITIZE_ADDRESS__)
    allowedGrowthKiB += 256 << 10;
#endif
    auto clock = std::make_shared<ManualTimerService>();
    ScopedTimerService scoped(clock);
    testing::Watchdog watchdog("a timed-out run's output");
    auto run = runUntilTimedOut(*clock, "/usr/bin/head", {"-c", "512M", "/dev/zero"});
    ASSERT_FALSE(run.result().isSuccess());
    ASSERT_TRUE(run.internalProcess());
    // head ends once all but the last pipe's worth of its output has been read. The launch step may
    // still be recording it.
    while (run.internalProcess()->processIdentifier() == 0) {
        std::this_thread::yield();
    }
    run.internalProcess()->waitUntilExit();
    EXPECT_EQ(run.internalProcess()->terminationStatus(), 0);
    EXPECT_LT(peakKiB() - before, allowedGrowthKiB) << "KiB more at the peak";
}

// A tool's background child holds its pipes after the tool is reaped: a stop must still reach it
// through the group, or the run stays open until that child ends by itself.
TEST(NSTask, AStopAfterTheToolIsReapedReachesItsBackgroundChildren) {
    testing::Watchdog watchdog("a stop after the reap", 120);
    for (bool killing : {false, true}) {
        SCOPED_TRACE(killing ? "kill" : "terminate");
        auto completed = std::make_shared<std::promise<Bytes>>();
        auto task =
            NSTask::run("/bin/sh", {"-c", "sleep 60 & echo started"}, std::nullopt,
                        [completed](Result<std::int32_t>, Bytes out, Bytes, std::shared_ptr<Process>) {
                            completed->set_value(std::move(out));
                        });
        while (task->processIdentifier() == 0) {
            std::this_thread::yield();
        }
        task->waitUntilExit();
        killing ? task->kill() : task->terminate();
        auto output = completed->get_future();
        ASSERT_EQ(output.wait_for(std::chrono::seconds(20)), std::future_status::ready)
            << "the background sleep still holds the run's pipes";
        EXPECT_EQ(output.get(), bytesOf("started\n"));
    }
}

// A step that fails once the tool runs (no memory, the reactor refusing a descriptor) must end the
// run with that failure and leave no child behind, not leave the run waiting for ever.
TEST(NSTask, AFailureAfterTheToolStartsEndsTheRunAndReapsTheTool) {
    testing::Watchdog watchdog("a failure after the spawn", 120);
    static std::atomic<const char*> failingStep{nullptr};
    detail::failAfterSpawn = [](const char* step) {
        if (std::string_view(step) == failingStep.load()) {
            throw std::bad_alloc();
        }
    };
    for (const char* step : {"watch", "channels"}) {
        SCOPED_TRACE(step);
        failingStep = step;
        auto run = NSTask::run("/bin/sleep", {"30"}, std::nullopt, generousTimeout);
        ASSERT_FALSE(run.result().isSuccess());
        EXPECT_EQ(run.result().error(), errorFromException(std::make_exception_ptr(std::bad_alloc())));
        ASSERT_TRUE(run.internalProcess());
        EXPECT_FALSE(run.internalProcess()->isRunning());
        EXPECT_THROW(NSTask::run(URL::fileURL("/bin/sleep"), {"30"}), std::bad_alloc);
    }
    detail::failAfterSpawn = nullptr;
    // Every child is reaped.
    siginfo_t child{};
    while (::waitid(P_ALL, 0, &child, WEXITED | WNOHANG | WNOWAIT) == 0) {
        std::this_thread::yield();
    }
}

TEST(NSTask, TheCallbackFormDrainsBothLargeOutputsWhileTheToolRuns) {
    testing::Watchdog watchdog("large outputs");
    std::promise<std::tuple<bool, std::size_t, std::size_t>> finished;
    NSTask::run("/bin/sh", {"-c", "head -c 8388608 /dev/zero; head -c 8388608 /dev/zero >&2"}, std::nullopt,
                [&](Result<std::int32_t> result, Bytes out, Bytes err, std::shared_ptr<Process>) {
                    finished.set_value({result.isSuccess(), out.size(), err.size()});
                });
    auto [succeeded, outSize, errSize] = finished.get_future().get();
    EXPECT_TRUE(succeeded);
    EXPECT_EQ(outSize, 8u << 20);
    EXPECT_EQ(errSize, 8u << 20);
}

TEST(NSTask, RunsFromManyThreadsGetTheirOwnOutputs) {
    testing::Watchdog watchdog("parallel runs");
    std::vector<std::future<NSTask::SynchronousRunResult>> runs;
    for (int i = 0; i < 8; ++i) {
        runs.push_back(std::async(std::launch::async, [i] {
            return NSTask::run("/bin/sh",
                               {"-c", "printf %s \"$1\"; printf %s \"$1\" >&2", "sh", std::to_string(i)},
                               std::nullopt, generousTimeout);
        }));
    }
    for (int i = 0; i < 8; ++i) {
        auto run = runs[i].get();
        ASSERT_TRUE(run.result().isSuccess());
        EXPECT_EQ(run.stdout(), bytesOf(std::to_string(i)));
        EXPECT_EQ(run.stderr(), bytesOf(std::to_string(i)));
    }
}

TEST(NSTask, DescriptionShowsTheResultAndBothOutputs) {
    NSTask::SynchronousRunResult empty({}, {}, Result<std::int32_t>::success(0), nullptr);
    EXPECT_EQ(empty.description(), "- result: 0\n- stdout: \n- stderr: ");

    NSTask::SynchronousRunResult invalid(Bytes{'a', 0xFF, 'b'}, bytesOf("e"),
                                         Result<std::int32_t>::failure(Error::posix(EPIPE)), nullptr);
    EXPECT_EQ(invalid.description(), "- result: failure: " + Error::posix(EPIPE).description() +
                                         "\n- stdout: a\xEF\xBF\xBD"
                                         "b\n- stderr: e");
}

TEST(NSTask, TheAsynchronousFormDrainsBothOutputsAndGivesTextOrNA) {
    testing::Watchdog watchdog("asynchronous form");
    auto large = NSTask::run(URL::fileURL("/bin/sh"),
                             {"-c", "head -c 8388608 /dev/zero; head -c 8388608 /dev/zero >&2; exit 4"});
    EXPECT_EQ(large.stdout().size(), 8u << 20);
    EXPECT_EQ(large.stderr().size(), 8u << 20);
    EXPECT_EQ(large.returnCode(), 4);

    auto invalid = NSTask::run(URL::fileURL("/bin/sh"), {"-c", "printf 'a\\377b'; printf 'fine' >&2"});
    EXPECT_EQ(invalid.stdout(), "N/A");
    EXPECT_EQ(invalid.description(), "- returnCode: 0\n- stdout: N/A\n- stderr: fine");

    try {
        NSTask::run(URL::fileURL("/nonexistent/tool"), {});
        FAIL() << "no error";
    } catch (const ErrorException& thrown) {
        EXPECT_EQ(thrown.error().code(), 4);
    }
}

// The asynchronous form shares the caller's standard input: a tool that reads the caller's terminal
// must get to read it, not be stopped for reading from outside the terminal's foreground group.
TEST(NSTask, TheAsynchronousFormMayReadTheCallersTerminal) {
    if (!testing::isChildTestRun()) {
        EXPECT_EQ(testing::runCurrentTestInChild(), 0);
        return;
    }
    // A session of its own, whose controlling terminal is a new pseudo-terminal on standard input.
    ASSERT_GE(::setsid(), 0);
    int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(master, 0);
    ASSERT_EQ(::grantpt(master), 0);
    ASSERT_EQ(::unlockpt(master), 0);
    int terminal = ::open(::ptsname(master), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(terminal, 0);
    ASSERT_EQ(::ioctl(terminal, TIOCSCTTY, 0), 0);
    ASSERT_EQ(::dup2(terminal, STDIN_FILENO), STDIN_FILENO);
    ASSERT_EQ(::tcgetpgrp(STDIN_FILENO), ::getpgrp());

    auto run = std::async(std::launch::async, [] {
        return NSTask::run(URL::fileURL("/bin/sh"), {"-c", "read line; echo \"got $line\""});
    });
    ASSERT_EQ(::write(master, "hello\n", 6), 6);
    if (run.wait_for(std::chrono::seconds(30)) != std::future_status::ready) {
        ADD_FAILURE() << "the tool never ended: it was stopped when it read the terminal";
        // The waiting thread cannot be joined; the tool goes with this session.
        std::_Exit(1);
    }
    EXPECT_EQ(run.get().stdout(), "got hello\n");
}

} // namespace velmor
