#include "platform/dispatch/SerialQueue.hpp"

#include "platform/dispatch/ManualTimerService.hpp"
#include "platform/testing/ChildTestRun.hpp"
#include "platform/testing/ThreadLimit.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <latch>
#include <pthread.h>
#include <stdexcept>
#include <system_error>
#include <thread>
#include <vector>

namespace velmor {

TEST(SerialQueue, RunsItsWorkInOrderOneAtATime) {
    SerialQueue queue("com.velmor.test.order");
    std::vector<int> order;
    std::atomic<int> inside{0};
    std::atomic<bool> overlapped{false};
    std::vector<std::thread> producers;
    // Several producers: the order holds per producer, and nothing ever overlaps.
    for (int producer = 0; producer < 4; ++producer) {
        producers.emplace_back([&, producer] {
            for (int i = 0; i < 200; ++i) {
                queue.async([&, producer, i] {
                    if (inside.fetch_add(1) != 0) {
                        overlapped = true;
                    }
                    order.push_back(producer * 1000 + i);
                    inside.fetch_sub(1);
                });
            }
        });
    }
    for (auto& producer : producers) {
        producer.join();
    }
    std::vector<int> seen = queue.sync([&] { return order; });
    EXPECT_FALSE(overlapped);
    ASSERT_EQ(seen.size(), 800u);
    std::vector<int> last(4, -1);
    for (int value : seen) {
        EXPECT_GT(value % 1000, last[value / 1000]);
        last[value / 1000] = value % 1000;
    }
}

TEST(SerialQueue, SyncReturnsTheResultAndRethrowsAfterTheQueuedWork) {
    SerialQueue queue("com.velmor.test.sync");
    std::latch release(1);
    std::atomic<bool> firstDone{false};
    queue.async([&] {
        release.wait();
        firstDone = true;
    });
    std::thread releaser([&] { release.count_down(); });
    EXPECT_EQ(queue.sync([&] { return firstDone.load() ? 42 : -1; }), 42);
    EXPECT_THROW(queue.sync([]() -> int { throw std::runtime_error("failed"); }), std::runtime_error);
    // The queue still works after an error left it.
    EXPECT_EQ(queue.sync([] { return 7; }), 7);
    releaser.join();
}

TEST(SerialQueue, WorkRunsOnAThreadNamedAfterTheQueueAndKnowsItsQueue) {
    SerialQueue queue("com.velmor.test.name");
    SerialQueue other("com.velmor.test.other");
    std::latch done(1);
    std::string name;
    bool current = false;
    bool otherCurrent = true;
    queue.async([&] {
        char buffer[16] = {};
        ::pthread_getname_np(::pthread_self(), buffer, sizeof buffer);
        name = buffer;
        current = queue.isCurrent();
        otherCurrent = other.isCurrent();
        done.count_down();
    });
    done.wait();
    EXPECT_EQ(name, std::string("com.velmor.test.name").substr(0, 15));
    EXPECT_TRUE(current);
    EXPECT_FALSE(otherCurrent);
    EXPECT_FALSE(queue.isCurrent());
}

TEST(SerialQueue, SyncOntoAnotherQueueFromQueuedWorkIsFine) {
    SerialQueue outer("com.velmor.test.outer");
    SerialQueue inner("com.velmor.test.inner");
    int value = outer.sync(
        [&] { return inner.sync([&] { return outer.isCurrent() && inner.isCurrent() ? 1 : 0; }); });
    EXPECT_EQ(value, 1);
}

TEST(SerialQueueDeathTest, SyncOntoTheRunningQueueIsCaught) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    SerialQueue queue("com.velmor.test.self");
    EXPECT_DEATH(queue.sync([&] { queue.sync([] {}); }), "sync called on queue com.velmor.test.self");
}

TEST(SerialQueue, AnEscapingErrorIsReportedWithTheLabelAndTheQueueGoesOn) {
    SerialQueue queue("com.velmor.test.fail");
    ::testing::internal::CaptureStderr();
    queue.async([] { throw std::runtime_error("broken job"); });
    int after = queue.sync([] { return 1; });
    std::string output = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(after, 1);
    EXPECT_NE(output.find("com.velmor.test.fail: broken job"), std::string::npos) << output;
}

TEST(SerialQueue, AsyncAfterWaitsForTheClock) {
    auto clock = std::make_shared<ManualTimerService>();
    ScopedTimerService scope(clock);
    SerialQueue queue("com.velmor.test.after");
    std::atomic<int> runs{0};
    queue.asyncAfter(2, [&] { ++runs; });
    clock->advance(1.5);
    queue.sync([] {});
    EXPECT_EQ(runs, 0);
    clock->advance(0.5);
    queue.sync([] {});
    EXPECT_EQ(runs, 1);
}

TEST(SerialQueue, WithoutThreadsAsyncFailsCleanlyAndAcceptedWorkStillRuns) {
    if (!testing::isChildTestRun()) {
        testing::expectChildRunAsRootPasses();
        return;
    }
    testing::ThreadLimit limit(0);
    ASSERT_EQ(limit.failure(), "");
    SerialQueue queue("com.velmor.test.nothreads");
    std::vector<std::string> ran;
    EXPECT_THROW(queue.async([&] { ran.push_back("refused"); }), std::system_error);
    // Work queued while a caller holds the queue was accepted: that caller runs it at the end.
    queue.sync([&] {
        ran.push_back("sync");
        queue.async([&] { ran.push_back("accepted"); });
    });
    EXPECT_EQ(ran, (std::vector<std::string>{"sync", "accepted"}));
    EXPECT_EQ(queue.sync([] { return 1; }), 1) << "the queue is free again";
}

} // namespace velmor
