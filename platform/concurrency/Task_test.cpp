#include "platform/concurrency/Task.hpp"

#include "platform/concurrency/TaskGroup.hpp"
#include "platform/dispatch/ManualTimerService.hpp"
#include "platform/testing/ChildTestRun.hpp"
#include "platform/testing/ThreadLimit.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <latch>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

namespace velmor {

TEST(Task, ValueReturnsTheResultOrRethrowsTheError) {
    auto answer = Task<int>::start([] { return 42; });
    EXPECT_EQ(answer.value(), 42);
    EXPECT_EQ(answer.value(), 42) << "the value can be asked for again";
    auto failing = Task<std::string>::start([]() -> std::string { throw std::runtime_error("no luck"); });
    EXPECT_THROW(failing.value(), std::runtime_error);
    auto empty = Task<>::start([] {});
    empty.value();
    EXPECT_TRUE(empty.isFinished());
}

TEST(Task, AResultThatCannotBeCopiedIsTakenOnce) {
    auto task = Task<std::unique_ptr<int>>::start([] { return std::make_unique<int>(8); });
    auto result = task.value();
    ASSERT_TRUE(result);
    EXPECT_EQ(*result, 8);
    EXPECT_THROW(task.value(), std::logic_error);
}

TEST(Task, CancellationIsSeenThroughTheCurrentTaskOnly) {
    EXPECT_FALSE(Task<>::isCancelled());
    EXPECT_NO_THROW(Task<>::checkCancellation());

    std::latch started(1);
    std::latch cancelled(1);
    auto task = Task<bool>::start([&] {
        bool before = Task<>::isCancelled();
        started.count_down();
        cancelled.wait();
        return !before && Task<>::isCancelled();
    });
    started.wait();
    task.cancel();
    cancelled.count_down();
    EXPECT_TRUE(task.value());
    EXPECT_TRUE(task.wasCancelled());
}

TEST(Task, CheckCancellationThrowsACancellationError) {
    std::latch cancelled(1);
    auto task = Task<>::start([&] {
        cancelled.wait();
        Task<>::checkCancellation();
    });
    task.cancel();
    cancelled.count_down();
    try {
        task.value();
        FAIL() << "expected a cancellation error";
    } catch (const CancellationError& error) {
        EXPECT_EQ(error.toError().domain(), CancellationError::domain);
    }
}

TEST(Task, ACancelledSleepEndsAtOnce) {
    // A sleep far longer than any test run: only the cancellation can end it.
    std::latch asleep(1);
    auto task = Task<>::start([&] {
        asleep.count_down();
        Task<>::sleep(1e6);
    });
    asleep.wait();
    task.cancel();
    EXPECT_THROW(task.value(), CancellationError);

    auto alreadyCancelled = Task<>::start([&] {
        while (!Task<>::isCancelled()) {
            std::this_thread::yield();
        }
        Task<>::sleep(1e6);
    });
    alreadyCancelled.cancel();
    EXPECT_THROW(alreadyCancelled.value(), CancellationError);
}

TEST(Task, SleepLastsExactlyItsTimeOnTheTimerServiceClock) {
    auto clock = std::make_shared<ManualTimerService>();
    ScopedTimerService scope(clock);
    auto start = clock->now();
    auto task = Task<>::start([] { Task<>::sleep(5); });
    ASSERT_TRUE(clock->waitForPending(1));
    EXPECT_EQ(clock->nextDeadline(), start + std::chrono::seconds(5));
    clock->advance(4.999);
    EXPECT_FALSE(task.isFinished());
    clock->advance(0.001);
    task.value();
    EXPECT_EQ(clock->now() - start, std::chrono::seconds(5));
    EXPECT_EQ(clock->pendingCount(), 0u);
}

TEST(Task, ATaskIsNotCancelledWithTheTaskThatStartedIt) {
    std::latch started(1);
    std::latch release(1);
    Task<> inner;
    auto outer = Task<>::start([&] {
        inner = Task<>::start([&] { release.wait(); });
        started.count_down();
        release.wait();
    });
    started.wait();
    outer.cancel();
    release.count_down();
    outer.value();
    inner.value();
    EXPECT_FALSE(inner.wasCancelled());
}

TEST(Task, CancellationHandlerRunsOnCancelOrAtOnceWhenAlreadyCancelled) {
    std::atomic<int> handled{0};
    std::latch inside(1);
    std::latch handlerRan(1);
    auto task = Task<int>::start([&] {
        return withCancellationHandler(
            [&] {
                inside.count_down();
                handlerRan.wait();
                return 5;
            },
            [&] {
                ++handled;
                handlerRan.count_down();
            });
    });
    inside.wait();
    task.cancel();
    task.cancel();
    EXPECT_EQ(task.value(), 5);
    EXPECT_EQ(handled, 1);

    std::atomic<bool> handledAtOnce{false};
    auto late = Task<bool>::start([&] {
        while (!Task<>::isCancelled()) {
            std::this_thread::yield();
        }
        return withCancellationHandler([&] { return handledAtOnce.load(); }, [&] { handledAtOnce = true; });
    });
    late.cancel();
    EXPECT_TRUE(late.value()) << "the handler ran before the operation";

    EXPECT_EQ(withCancellationHandler([] { return 3; }, [] { FAIL() << "no task, no cancellation"; }), 3);
}

TEST(Task, HandlesCompareByTaskAndCanBeHeldTypeErased) {
    auto task = Task<int>::start([] { return 1; });
    AnyTask held = task;
    EXPECT_TRUE(held == task);
    EXPECT_FALSE(held == AnyTask());
    held.cancel();
    EXPECT_TRUE(task.wasCancelled());
    held.wait();
    EXPECT_TRUE(task.isFinished());
    EXPECT_FALSE(AnyTask());
}

TEST(Task, AStartThatFindsNoThreadFailsAndNothingRuns) {
    if (!testing::isChildTestRun()) {
        testing::expectChildRunAsRootPasses();
        return;
    }
    std::optional<testing::ThreadLimit> limit(std::in_place, 2);
    ASSERT_EQ(limit->failure(), "");
    std::latch release(1);
    std::atomic<int> ran{0};
    std::vector<Task<>> started;
    std::string failure;
    // Every thread the limit leaves is taken by a task that waits.
    while (failure.empty()) {
        ASSERT_LT(started.size(), 10u) << "the thread limit did not take";
        try {
            started.push_back(Task<>::start([&] {
                ++ran;
                release.wait();
            }));
        } catch (const std::system_error& error) {
            failure = error.what();
        }
    }
    EXPECT_THAT(failure, ::testing::HasSubstr("velmor.task"));
    // A group that counted the child it could not start would wait here for ever.
    withTaskGroup<void>([&](TaskGroup<void>& group) {
        EXPECT_THROW(group.addTask([&] { ++ran; }), std::system_error);
        EXPECT_TRUE(group.isEmpty());
    });
    release.count_down();
    for (auto& task : started) {
        task.value();
    }
    // Runs after anything still queued (the workers may not be idle yet: no limit now).
    limit.reset();
    Task<>::start([] {}).value();
    EXPECT_EQ(ran, static_cast<int>(started.size())) << "work whose start failed ran anyway";
}

} // namespace velmor
