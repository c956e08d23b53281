#include "foundation/services/fsevents/FSEventSequence.hpp"

#include "platform/concurrency/Task.hpp"
#include "platform/dispatch/ManualTimerService.hpp"
#include "platform/testing/FileEventBarrier.hpp"
#include "platform/testing/TemporaryDirectory.hpp"
#include "platform/testing/WaitUntil.hpp"
#include "platform/testing/Watchdog.hpp"

#include <atomic>
#include <gtest/gtest.h>
#include <thread>

namespace velmor {
namespace {

using testing::waitUntil;

class FSEventSequenceTest : public ::testing::Test {
protected:
    std::shared_ptr<ManualTimerService> timers = std::make_shared<ManualTimerService>();
    ScopedTimerService scopedTimers{timers};
    testing::TemporaryDirectory root;
    testing::FileEventBarrier barrier;
    testing::Watchdog watchdog{"file event sequence test"};
};

// Counts ticks until its task is cancelled.
Task<int> countTicks(const FSEventSequence& sequence, std::atomic<int>& ticks, std::atomic<bool>& ready) {
    return Task<int>::start([&sequence, &ticks, &ready] {
        auto iterator = sequence.makeAsyncIterator();
        ready = true;
        while (iterator->next()) {
            ++ticks;
        }
        return ticks.load();
    });
}

TEST_F(FSEventSequenceTest, ALoopEndsWithNothingWhenItsTaskIsCancelled) {
    struct Case {
        const char* what;
        std::string path;
    };
    for (const Case& c : {Case{"a watched file", root.writeFile("file")},
                          Case{"a path without a parent, so without a watch", root / "missing/file"}}) {
        SCOPED_TRACE(c.what);
        FSEventSequence sequence(URL::fileURL(c.path), true);
        std::atomic<int> ticks{0};
        std::atomic<bool> ready{false};
        auto task = countTicks(sequence, ticks, ready);
        ASSERT_TRUE(waitUntil([&] { return ready.load(); }));
        task.cancel();
        EXPECT_EQ(task.value(), 0);
    }
}

TEST_F(FSEventSequenceTest, AnAlreadyCancelledTaskGetsNothingAtOnce) {
    FSEventSequence sequence(URL::fileURL(root.writeFile("file")), false);
    auto task = Task<bool>::start([&] {
        waitUntil([] { return AnyTask::isCancelled(); });
        auto iterator = sequence.makeAsyncIterator();
        return iterator->next().has_value();
    });
    task.cancel();
    EXPECT_FALSE(task.value());
}

TEST_F(FSEventSequenceTest, TwoChangesWithinTheLatencyGiveOneTick) {
    std::string file = root.writeFile("file");
    FSEventSequence sequence(URL::fileURL(file), true);
    std::atomic<int> ticks{0};
    std::atomic<bool> ready{false};
    auto task = countTicks(sequence, ticks, ready);
    ASSERT_TRUE(waitUntil([&] { return ready.load(); }));
    // Ticks are not kept for a loop that is not waiting yet: give it the moment to get there.
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    root.writeFile("file", "one");
    root.writeFile("file", "two");
    ASSERT_TRUE(barrier.wait());
    EXPECT_EQ(timers->pendingCount(), 1u);
    timers->advance(FSEventIterator::latency);
    ASSERT_TRUE(waitUntil([&] { return ticks.load() == 1; }));
    EXPECT_EQ(timers->pendingCount(), 0u);
    task.cancel();
    EXPECT_EQ(task.value(), 1);
}

} // namespace
} // namespace velmor
