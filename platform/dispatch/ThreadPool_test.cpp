#include "platform/dispatch/ThreadPool.hpp"

#include <gtest/gtest.h>

#include <latch>

namespace velmor {

TEST(ThreadPool, BlockedWorkNeverStarvesTheRest) {
    // Each job waits for all the others: only a pool that grows when none is idle finishes.
    constexpr int jobs = 32;
    std::latch allStarted(jobs);
    std::latch done(jobs);
    for (int i = 0; i < jobs; ++i) {
        ThreadPool::shared().submit("velmor.test", [&] {
            allStarted.arrive_and_wait();
            done.count_down();
        });
    }
    done.wait();
}

} // namespace velmor
