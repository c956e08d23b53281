#include "foundation/services/fsevents/FSEventMonitor.hpp"

#include "platform/dispatch/ManualTimerService.hpp"
#include "platform/log/CaptureSink.hpp"
#include "platform/testing/ChildTestRun.hpp"
#include "platform/testing/FileEventBarrier.hpp"
#include "platform/testing/TemporaryDirectory.hpp"
#include "platform/testing/WaitUntil.hpp"
#include "platform/testing/Watchdog.hpp"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <optional>
#include <sched.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace velmor {
namespace {

using testing::waitUntil;

// What a monitor test runs with: a manual clock, a fresh folder and a way to wait for events.
struct MonitorRig {
    // Lets the batch of every change so far fall due, and waits for what the test expects of it.
    bool deliver(const std::function<bool()>& expected) {
        if (!barrier.wait()) {
            return false;
        }
        timers->advance(1);
        return waitUntil(expected);
    }

    std::function<void()> counter() {
        return [this] { ++calls; };
    }

    URL url(const std::string& relative) const { return URL::fileURL(root / relative); }

    std::shared_ptr<ManualTimerService> timers = std::make_shared<ManualTimerService>();
    ScopedTimerService scopedTimers{timers};
    testing::TemporaryDirectory root;
    testing::FileEventBarrier barrier;
    std::atomic<int> calls{0};
    testing::Watchdog watchdog{"file event monitor test"};
};

class FSEventMonitorTest : public ::testing::Test, protected MonitorRig {};

TEST_F(FSEventMonitorTest, AMissingTargetIsFollowedDownFromItsNearestFolder) {
    FSEventMonitor monitor(url("a/b/file"));
    EXPECT_EQ(monitor.observedURL(), URL::fileURL(root.path()));
    monitor.startMonitoring(1, counter());

    // Noise in the watched folder brings the target no closer.
    root.writeFile("noise", "x");
    root.makeDirectory("elsewhere");
    ASSERT_TRUE(barrier.wait());
    timers->advance(1);

    root.makeDirectory("a");
    ASSERT_TRUE(deliver([&] { return monitor.observedURL() == url("a"); }));
    EXPECT_EQ(calls.load(), 0);

    root.makeDirectory("a/b");
    root.writeFile("a/b/file", "here");
    ASSERT_TRUE(deliver([&] { return monitor.observedURL() == url("a/b/file"); }));
    ASSERT_TRUE(waitUntil([&] { return calls.load() == 1; }));

    // Now the target itself is watched: several writes in one latency are one call.
    for (int i = 0; i < 3; ++i) {
        root.writeFile("a/b/file", std::to_string(i));
    }
    ASSERT_TRUE(deliver([&] { return calls.load() >= 2; }));
    root.writeFile("a/b/file", "last");
    ASSERT_TRUE(deliver([&] { return calls.load() >= 3; }));
    EXPECT_EQ(calls.load(), 3);
}

TEST_F(FSEventMonitorTest, TheTargetsFolderRemovedAndMadeAgainIsFollowedDownAgain) {
    struct Case {
        const char* what;
        bool madeAgainAtOnce;
        // As a preference table does: written beside, then renamed over the target.
        bool writtenByRename;
    };
    for (const Case& c : {Case{"made again at once, written in place", true, false},
                          Case{"made again folder by folder, written by rename", false, true}}) {
        SCOPED_TRACE(c.what);
        std::filesystem::remove_all(root / "pending");
        root.writeFile("pending/a/b/file", "0");
        calls = 0;
        FSEventMonitor monitor(url("pending/a/b/file"));
        monitor.startMonitoring(1, counter());

        std::filesystem::remove_all(root / "pending/a/b");
        if (c.madeAgainAtOnce) {
            root.makeDirectory("pending/a/b");
        } else {
            ASSERT_TRUE(deliver([&] { return monitor.observedURL() == url("pending/a"); }));
            root.makeDirectory("pending/a/b");
        }
        ASSERT_TRUE(deliver([&] { return monitor.observedURL() == url("pending/a/b"); }));
        EXPECT_EQ(calls.load(), 1) << "the removal is a change, the empty folder is none";

        auto write = [&](const std::string& contents) {
            if (c.writtenByRename) {
                root.writeFile("pending/a/b/.file.tmp", contents);
                std::filesystem::rename(root / "pending/a/b/.file.tmp", root / "pending/a/b/file");
            } else {
                root.writeFile("pending/a/b/file", contents);
            }
        };
        write("again");
        ASSERT_TRUE(deliver([&] { return monitor.observedURL() == url("pending/a/b/file"); }));
        ASSERT_TRUE(waitUntil([&] { return calls.load() == 2; }));
        write("later");
        ASSERT_TRUE(deliver([&] { return calls.load() == 3; }));
    }
}

TEST_F(FSEventMonitorTest, AFolderMadeBetweenTheLookUpAndTheWatchIsFollowed) {
    FSEventMonitor monitor(url("a/b/file"));
    monitor.setAfterLookUpForTesting([&](const URL& found) {
        if (found == URL::fileURL(root.path()) && !std::filesystem::exists(root / "a")) {
            root.makeDirectory("a");
        }
    });
    monitor.startMonitoring(1, counter());
    EXPECT_EQ(monitor.observedURL().path(), url("a").path());
    root.makeDirectory("a/b");
    root.writeFile("a/b/file");
    ASSERT_TRUE(deliver([&] { return monitor.observedURL() == url("a/b/file"); }));
    ASSERT_TRUE(waitUntil([&] { return calls.load() == 1; }));
}

TEST_F(FSEventMonitorTest, AFileReplacedByRenameStaysWatched) {
    std::string target = root.writeFile("table.plist", "0");
    FSEventMonitor monitor(URL::fileURL(target));
    monitor.startMonitoring(1, counter());
    for (int i = 0; i < 100; ++i) {
        root.writeFile(".table.tmp", std::to_string(i));
        std::filesystem::rename(root / ".table.tmp", target);
    }
    ASSERT_TRUE(deliver([&] { return calls.load() >= 1; }));
    root.writeFile("table.plist", "written in place");
    ASSERT_TRUE(deliver([&] { return calls.load() >= 2; }));
    EXPECT_EQ(calls.load(), 2);
    EXPECT_EQ(monitor.observedURL(), URL::fileURL(target));
}

TEST_F(FSEventMonitorTest, DeletionCallsAndTheWatchStaysForARecreation) {
    std::string target = root.writeFile("file");
    FSEventMonitor monitor(URL::fileURL(target));
    monitor.startMonitoring(1, counter());
    std::filesystem::remove(target);
    ASSERT_TRUE(deliver([&] { return calls.load() >= 1; }));
    EXPECT_EQ(monitor.observedURL(), URL::fileURL(target));
    root.writeFile("file", "again");
    ASSERT_TRUE(deliver([&] { return calls.load() >= 2; }));
    EXPECT_EQ(calls.load(), 2);
}

TEST_F(FSEventMonitorTest, LatencyAndStopping) {
    FSEventMonitor idle(url("file"));
    idle.stopMonitoring();
    EXPECT_FALSE(idle.isWatching());
    EXPECT_EQ(idle.latency(), 0);

    std::string target = root.writeFile("file");
    FSEventMonitor monitor(URL::fileURL(target));
    monitor.startMonitoring(-2, counter());
    EXPECT_EQ(monitor.latency(), -2);
    root.writeFile("file", "changed");
    ASSERT_TRUE(barrier.wait());
    timers->advance(1.9);
    EXPECT_EQ(timers->pendingCount(), 1u) << "a negative latency counts as its absolute value";
    timers->advance(0.1);
    ASSERT_TRUE(waitUntil([&] { return calls.load() == 1; }));

    monitor.stopMonitoring();
    EXPECT_FALSE(monitor.isWatching());
    root.writeFile("file", "after the stop");
    ASSERT_TRUE(barrier.wait());
    EXPECT_EQ(timers->pendingCount(), 0u);
}

TEST_F(FSEventMonitorTest, DestroyingTheMonitorWaitsForARunningObserver) {
    std::string target = root.writeFile("file");
    auto monitor = std::make_unique<FSEventMonitor>(URL::fileURL(target));
    std::atomic<bool> entered{false};
    std::atomic<bool> release{false};
    std::atomic<bool> sawTarget{false};
    FSEventMonitor* raw = monitor.get();
    monitor->startMonitoring(1, [&] {
        entered = true;
        waitUntil([&] { return release.load(); });
        // Touches the monitor after its owner asked for its end.
        sawTarget = raw->urlToObserve() == URL::fileURL(target);
    });
    root.writeFile("file", "changed");
    ASSERT_TRUE(barrier.wait());
    timers->advance(1);
    ASSERT_TRUE(waitUntil([&] { return entered.load(); }));
    std::thread destroyer([&] { monitor.reset(); });
    std::this_thread::sleep_for(std::chrono::milliseconds(20)); // lets the destroyer reach its wait
    release = true;
    destroyer.join();
    EXPECT_TRUE(sawTarget.load());
}

TEST_F(FSEventMonitorTest, TheMonitorMayEndInsideItsOwnObserver) {
    std::string target = root.writeFile("file");
    auto monitor = std::make_unique<FSEventMonitor>(URL::fileURL(target));
    std::atomic<bool> ended{false};
    monitor->startMonitoring(1, [&] {
        monitor.reset();
        ended = true;
    });
    root.writeFile("file", "changed");
    ASSERT_TRUE(deliver([&] { return ended.load(); }));
}

// Why this process may not make a user namespace of its own, or nothing. Tried in a forked child,
// which calls nothing but the system: a process with threads may not enter one.
std::optional<std::string> userNamespaceRefusal() {
    pid_t child = ::fork();
    if (child == 0) {
        ::_exit(::unshare(CLONE_NEWUSER) == 0 ? 0 : errno);
    }
    int status = 0;
    if (child < 0 || ::waitpid(child, &status, 0) != child || !WIFEXITED(status)) {
        return std::string("cannot try a user namespace");
    }
    if (WEXITSTATUS(status) != 0) {
        return std::string("cannot make a user namespace: ") + std::strerror(WEXITSTATUS(status));
    }
    return std::nullopt;
}

void writeProcFile(const std::string& path, const std::string& value) {
    std::ofstream file(path);
    file << value;
    file.close();
    ASSERT_FALSE(file.fail()) << "cannot write " << value << " to " << path;
}

// Moves this process, still without threads, into a user namespace of its own as the same user,
// and lowers that namespace's inotify watch limit, which counts for descriptors made in it.
void lowerTheWatchLimitInAUserNamespace(int limit) {
    uid_t user = ::geteuid();
    gid_t group = ::getegid();
    ASSERT_EQ(::unshare(CLONE_NEWUSER), 0) << std::strerror(errno);
    writeProcFile("/proc/self/setgroups", "deny");
    writeProcFile("/proc/self/uid_map", std::to_string(user) + " " + std::to_string(user) + " 1");
    writeProcFile("/proc/self/gid_map", std::to_string(group) + " " + std::to_string(group) + " 1");
    writeProcFile("/proc/sys/user/max_inotify_watches", std::to_string(limit));
}

TEST(FSEventMonitorLimitTest, AMonitorPastTheWatchLimitLogsOnceAndLeavesOthersTheirWatches) {
    if (!testing::isChildTestRun()) {
        if (auto reason = userNamespaceRefusal()) {
            GTEST_SKIP() << "the watch limit is lowered in a user namespace, but " << *reason;
        }
        EXPECT_EQ(testing::runCurrentTestInChild(), 0) << "the child run failed or hung";
        return;
    }
    // The hub's inotify descriptor is made after this, inside the namespace.
    ASSERT_NO_FATAL_FAILURE(lowerTheWatchLimitInAUserNamespace(64));
    auto capture = std::make_shared<log::CaptureSink>();
    auto previousSink = log::LogSink::install(capture);
    MonitorRig rig;
    for (int i = 0; i < 100; ++i) {
        rig.root.makeDirectory("tree/" + std::to_string(i));
    }

    FSEventMonitor other(rig.url("later/file"));
    std::atomic<int> otherCalls{0};
    other.startMonitoring(1, [&] { ++otherCalls; });
    FSEventMonitor large(rig.url("tree"));
    large.startMonitoring(1, rig.counter());
    EXPECT_FALSE(large.isWatching());
    // Started again: the same shortfall is not logged twice.
    large.startMonitoring(1, rig.counter());
    EXPECT_FALSE(large.isWatching());
    // The other monitor still adds the watches it needs as its target's folder appears.
    rig.root.makeDirectory("later");
    ASSERT_TRUE(rig.deliver([&] { return other.observedURL() == rig.url("later"); }));
    EXPECT_TRUE(other.isWatching());
    rig.root.writeFile("later/file");
    ASSERT_TRUE(rig.deliver([&] { return otherCalls.load() == 1; }));
    // What the large monitor still watches, the tree's own entry, is reported.
    std::filesystem::rename(rig.root / "tree", rig.root / "moved");
    ASSERT_TRUE(rig.deliver([&] { return rig.calls.load() == 1; }));

    log::LogSink::install(previousSink);
    auto entries = capture->entries();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].type, log::LogType::error);
    const std::string& message = entries[0].message;
    EXPECT_NE(message.find("Cannot watch " + rig.root / "tree"), std::string::npos) << message;
    EXPECT_NE(message.find(std::strerror(ENOSPC)), std::string::npos) << message;
    EXPECT_NE(message.find("/proc/sys/fs/inotify/max_user_watches"), std::string::npos) << message;
}

} // namespace
} // namespace velmor
