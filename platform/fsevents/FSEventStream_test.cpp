#include "platform/fsevents/FSEventStream.hpp"

#include "platform/dispatch/ManualTimerService.hpp"
#include "platform/testing/FileEventBarrier.hpp"
#include "platform/testing/TemporaryDirectory.hpp"
#include "platform/testing/WaitUntil.hpp"
#include "platform/testing/Watchdog.hpp"

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <gtest/gtest.h>

namespace velmor {
namespace {

using testing::waitUntil;

class FSEventStreamTest : public ::testing::Test {
protected:
    // Moves the clock past the latency once every change so far has been handled, and waits until
    // the stream has called `expected` times in all.
    bool deliverBatch(int expected) {
        if (!barrier.wait()) {
            return false;
        }
        timers->advance(1);
        return waitUntil([&] { return calls.load() >= expected; });
    }

    std::function<void()> counter() {
        return [this] { ++calls; };
    }

    std::shared_ptr<ManualTimerService> timers = std::make_shared<ManualTimerService>();
    ScopedTimerService scopedTimers{timers};
    testing::TemporaryDirectory root;
    testing::FileEventBarrier barrier;
    std::atomic<int> calls{0};
    testing::Watchdog watchdog{"file event stream test"};
};

TEST_F(FSEventStreamTest, ChangesWithinTheLatencyComeAsOneBatch) {
    std::string file = root.writeFile("file", "0");
    FSEventStream stream(file, 1, FSEventStream::Scope::path, counter());
    ASSERT_TRUE(stream.start());
    for (int i = 0; i < 5; ++i) {
        root.writeFile("file", std::to_string(i));
    }
    ASSERT_TRUE(deliverBatch(1));
    // A later change is a batch of its own: had the five writes made several, this would be past 2.
    root.writeFile("file", "later");
    ASSERT_TRUE(deliverBatch(2));
    EXPECT_EQ(calls.load(), 2);
}

TEST_F(FSEventStreamTest, OtherNamesInTheParentFolderAreNotReported) {
    std::string file = root.writeFile("file");
    FSEventStream stream(file, 1, FSEventStream::Scope::path, counter());
    ASSERT_TRUE(stream.start());
    root.writeFile("neighbour", "noise");
    root.makeDirectory("sibling/deeper");
    ASSERT_TRUE(barrier.wait());
    EXPECT_EQ(timers->pendingCount(), 0u);
}

TEST_F(FSEventStreamTest, AFolderIsWatchedAllTheWayDownIncludingFoldersMadeLater) {
    std::string folder = root.makeDirectory("tree/old/deep");
    FSEventStream stream(root / "tree", 1, FSEventStream::Scope::path, counter());
    ASSERT_TRUE(stream.start());
    root.writeFile("tree/old/deep/file");
    ASSERT_TRUE(deliverBatch(1));
    // Made in one go: the lower folders exist before the watch on the upper one is added.
    root.makeDirectory("tree/new/a/b");
    ASSERT_TRUE(deliverBatch(2));
    root.writeFile("tree/new/a/b/file");
    ASSERT_TRUE(deliverBatch(3));
    // A folder moved out of the tree is no longer watched.
    std::filesystem::rename(root / "tree/new", root / "moved");
    ASSERT_TRUE(deliverBatch(4));
    root.writeFile("moved/a/b/file", "outside now");
    ASSERT_TRUE(barrier.wait());
    EXPECT_EQ(timers->pendingCount(), 0u);
}

TEST_F(FSEventStreamTest, AFolderWatchSurvivesTheFoldersReplacement) {
    root.makeDirectory("tree");
    FSEventStream stream(root / "tree", 1, FSEventStream::Scope::path, counter());
    ASSERT_TRUE(stream.start());
    std::filesystem::remove_all(root / "tree");
    root.makeDirectory("tree/sub");
    ASSERT_TRUE(deliverBatch(1));
    root.writeFile("tree/sub/file");
    ASSERT_TRUE(deliverBatch(2));
}

TEST_F(FSEventStreamTest, AFolderEntriesWatchSeesItsEntriesAndItsOwnEndButNothingDeeper) {
    root.makeDirectory("folder/sub");
    FSEventStream stream(root / "folder", 1, FSEventStream::Scope::folderEntries, counter());
    ASSERT_TRUE(stream.start());
    root.writeFile("folder/sub/deeper");
    ASSERT_TRUE(barrier.wait());
    EXPECT_EQ(timers->pendingCount(), 0u);
    root.writeFile("folder/entry");
    ASSERT_TRUE(deliverBatch(1));
    std::filesystem::rename(root / "folder", root / "gone");
    ASSERT_TRUE(deliverBatch(2));
}

TEST_F(FSEventStreamTest, NothingIsWatchedWhenTheParentIsMissing) {
    FSEventStream stream(root / "missing/file", 1, FSEventStream::Scope::path, counter());
    EXPECT_FALSE(stream.start());
}

TEST_F(FSEventStreamTest, StoppingOneWatchOfAFolderKeepsTheOthersEvents) {
    std::string file = root.writeFile("file");
    // Both watch the same folder, so inotify gives them one watch descriptor.
    FSEventStream first(file, 1, FSEventStream::Scope::path, [] {});
    FSEventStream second(root.path(), 1, FSEventStream::Scope::folderEntries, counter());
    ASSERT_TRUE(first.start());
    ASSERT_TRUE(second.start());
    first.stop();
    root.writeFile("file", "changed");
    ASSERT_TRUE(deliverBatch(1));
}

TEST_F(FSEventStreamTest, StopWaitsForARunningDeliveryAndNoneStartsAfterwards) {
    std::string file = root.writeFile("file");
    std::atomic<bool> entered{false};
    std::atomic<bool> release{false};
    auto owned = std::make_unique<int>(7);
    std::atomic<int> seen{0};
    auto stream = std::make_unique<FSEventStream>(file, 1, FSEventStream::Scope::path, [&] {
        entered = true;
        waitUntil([&] { return release.load(); });
        // Freed right after the stop returns: a stop that did not wait makes this a use after free.
        seen = *owned;
    });
    ASSERT_TRUE(stream->start());
    root.writeFile("file", "changed");
    ASSERT_TRUE(barrier.wait());
    timers->advance(1);
    ASSERT_TRUE(waitUntil([&] { return entered.load(); }));
    std::thread stopper([&] {
        stream->stop();
        owned.reset();
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(20)); // lets the stopper reach its wait
    release = true;
    stopper.join();
    EXPECT_EQ(seen.load(), 7);
    root.writeFile("file", "after the stop");
    ASSERT_TRUE(barrier.wait());
    EXPECT_EQ(timers->pendingCount(), 0u);
}

TEST_F(FSEventStreamTest, AStreamCanBeStoppedAndDestroyedFromItsOwnCallback) {
    std::string file = root.writeFile("file");
    std::unique_ptr<FSEventStream> stream;
    std::atomic<bool> done{false};
    stream = std::make_unique<FSEventStream>(file, 1, FSEventStream::Scope::path, [&] {
        stream.reset();
        done = true;
    });
    ASSERT_TRUE(stream->start());
    root.writeFile("file", "changed");
    ASSERT_TRUE(barrier.wait());
    timers->advance(1);
    EXPECT_TRUE(waitUntil([&] { return done.load(); }));
}

} // namespace
} // namespace velmor
