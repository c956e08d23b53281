#include "foundation/services/fsevents/FSEventMonitor.hpp"

#include "platform/dispatch/ManualTimerService.hpp"
#include "platform/testing/FileEventBarrier.hpp"
#include "platform/testing/TemporaryDirectory.hpp"
#include "platform/testing/WaitUntil.hpp"
#include "platform/testing/Watchdog.hpp"

#include <atomic>
#include <filesystem>
#include <gtest/gtest.h>
#include <thread>

namespace velmor {
namespace {

using testing::waitUntil;

class FSEventMonitorTest : public ::testing::Test {
protected:
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

} // namespace
} // namespace velmor
