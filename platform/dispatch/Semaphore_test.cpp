#include "platform/dispatch/Semaphore.hpp"

#include "platform/dispatch/ManualTimerService.hpp"

#include <gtest/gtest.h>

#include <future>
#include <thread>

namespace velmor {

TEST(Semaphore, CountsSignalsAndWakesAWaiter) {
    Semaphore semaphore(1);
    EXPECT_TRUE(semaphore.waitFor(0));
    auto waiter = std::async(std::launch::async, [&] { semaphore.wait(); });
    semaphore.signal();
    waiter.get();
}

TEST(Semaphore, WaitForGivesUpAtTheDeadlineWithoutTakingASignal) {
    auto clock = std::make_shared<ManualTimerService>();
    ScopedTimerService scope(clock);
    Semaphore semaphore;
    auto waited = std::async(std::launch::async, [&] { return semaphore.waitFor(2); });
    while (waited.wait_for(std::chrono::seconds(0)) != std::future_status::ready) {
        clock->advance(1);
        std::this_thread::yield();
    }
    EXPECT_FALSE(waited.get());
    semaphore.signal();
    EXPECT_TRUE(semaphore.waitFor(2));
    EXPECT_FALSE(semaphore.waitFor(0));
}

} // namespace velmor
