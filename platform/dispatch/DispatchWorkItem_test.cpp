#include "platform/dispatch/DispatchWorkItem.hpp"

#include "platform/testing/Watchdog.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <latch>
#include <thread>

namespace velmor {

TEST(DispatchWorkItem, ACancelledItemDoesNothingWhenItsTurnComes) {
    int runs = 0;
    DispatchWorkItem item([&] { ++runs; });
    DispatchWorkItem queuedCopy = item;
    item.cancel();
    queuedCopy.perform();
    EXPECT_EQ(runs, 0);
    EXPECT_TRUE(queuedCopy.isCancelled());

    DispatchWorkItem kept([&] { ++runs; });
    kept.perform();
    kept.perform();
    EXPECT_EQ(runs, 1) << "an item runs once";
    EXPECT_FALSE(kept.isCancelled());
}

TEST(DispatchWorkItem, AStartedItemRunsToItsEndWhenCancelled) {
    testing::Watchdog watchdog("a cancelled running work item");
    std::latch started(1);
    std::latch cancelled(1);
    std::atomic<bool> finished{false};
    DispatchWorkItem item([&] {
        started.count_down();
        cancelled.wait();
        finished = true;
    });
    std::thread running([&] { item.perform(); });
    started.wait();
    item.cancel();
    cancelled.count_down();
    running.join();
    EXPECT_TRUE(finished);
}

} // namespace velmor
