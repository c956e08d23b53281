#include "platform/dispatch/DispatchGroup.hpp"

#include "platform/dispatch/ManualTimerService.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <latch>
#include <thread>

namespace velmor {

TEST(DispatchGroup, WaitAndNotifyComeAfterAllWork) {
    DispatchGroup group;
    std::atomic<int> done{0};
    std::latch release(1);
    for (int i = 0; i < 8; ++i) {
        group.async([&] {
            release.wait();
            ++done;
        });
    }
    SerialQueue queue("com.velmor.test.group");
    std::promise<int> notified;
    group.notify([&] { notified.set_value(done.load()); }, queue);
    release.count_down();
    group.wait();
    EXPECT_EQ(done, 8);
    EXPECT_EQ(notified.get_future().get(), 8);
}

TEST(DispatchGroup, NotifyOnAnEmptyGroupRunsAtOnce) {
    DispatchGroup group;
    std::promise<void> ran;
    group.notify([&] { ran.set_value(); });
    ran.get_future().get();
}

TEST(DispatchGroup, WaitForGivesUpAtTheDeadline) {
    auto clock = std::make_shared<ManualTimerService>();
    ScopedTimerService scope(clock);
    DispatchGroup group;
    group.enter();
    auto waited = std::async(std::launch::async, [&] { return group.waitFor(5); });
    // The waiter schedules its deadline when it starts: move time on until it has seen it pass.
    while (waited.wait_for(std::chrono::seconds(0)) != std::future_status::ready) {
        clock->advance(1);
        std::this_thread::yield();
    }
    EXPECT_FALSE(waited.get());
    group.leave();
    EXPECT_TRUE(group.waitFor(5));
}

TEST(DispatchGroupDeathTest, LeaveWithoutEnterIsCaught) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    DispatchGroup group;
    EXPECT_DEATH(group.leave(), "leave called more often than enter");
}

} // namespace velmor
