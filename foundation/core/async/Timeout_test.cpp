#include "foundation/core/async/ForceCancellable.hpp"
#include "foundation/core/async/Timeout.hpp"
#include "platform/dispatch/ManualTimerService.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <condition_variable>
#include <latch>
#include <limits>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <variant>

namespace velmor {
namespace {

// Blocks until the current task is cancelled, then stops the way a cancelled operation does.
int sleepUntilCancelled() {
    AnyTask::sleepUntil(TimerService::TimePoint::max());
    return 0;
}

class Timeout : public ::testing::Test {
protected:
    std::shared_ptr<ManualTimerService> clock = std::make_shared<ManualTimerService>();
    ScopedTimerService installed{clock};
};

TEST_F(Timeout, TimesNotAboveZeroTimeOutAtOnce) {
    const double times[] = {0, -1, std::nan("")};
    for (double seconds : times) {
        EXPECT_THROW(withTimeout(seconds, sleepUntilCancelled), TimeOutError) << seconds;
        // With an operation that is done at once either may come first, but only one.
        try {
            EXPECT_EQ(withTimeout(seconds, [] { return 3; }), 3) << seconds;
        } catch (const TimeOutError&) {
        }
    }
}

TEST_F(Timeout, AnOperationDoneBeforeTheDeadlineGivesItsValueAndItsError) {
    EXPECT_EQ(withTimeout(60, [] { return 7; }), 7);
    EXPECT_THROW(withTimeout(60, []() -> int { throw std::invalid_argument("bad"); }), std::invalid_argument);
    withTimeout(60, [] {});
    EXPECT_EQ(clock->now(), TimerService::TimePoint{}) << "nothing waited for the clock";
}

TEST_F(Timeout, TimesTooLongForTheClockNeverTimeOut) {
    const double times[] = {1e300, std::numeric_limits<double>::infinity(), 9.3e9};
    for (double seconds : times) {
        auto call = Task<int>::start([seconds] {
            return withTimeout(seconds, [] {
                AnyTask::sleep(1e9);
                return 4;
            });
        });
        ASSERT_TRUE(clock->waitForPending(1));
        clock->advance(1e9);
        EXPECT_EQ(call.value(), 4) << seconds;
    }
}

TEST_F(Timeout, TheTimerEndsAnOperationThatHonoursCancellation) {
    auto call = Task<int>::start([] { return withTimeout(5, sleepUntilCancelled); });
    ASSERT_TRUE(clock->waitForPending(1));
    clock->advance(4.5);
    EXPECT_FALSE(call.isFinished());
    clock->advance(0.5);
    EXPECT_THROW(call.value(), TimeOutError);
}

TEST_F(Timeout, AnOperationThatIgnoresCancellationHoldsTheCallUntilItEnds) {
    std::latch cancelled(1);
    std::latch release(1);
    auto call = Task<int>::start([&] {
        return withTimeout(1, [&] {
            try {
                sleepUntilCancelled();
            } catch (const CancellationError&) {
                cancelled.count_down();
            }
            release.wait();
            return 9;
        });
    });
    ASSERT_TRUE(clock->waitForPending(1));
    clock->advance(1);
    cancelled.wait();
    EXPECT_FALSE(call.isFinished());
    release.count_down();
    EXPECT_THROW(call.value(), TimeOutError);
}

TEST_F(Timeout, ACancelledCallerGetsTheCancellationError) {
    auto call = Task<int>::start([] { return withTimeout(30, sleepUntilCancelled); });
    ASSERT_TRUE(clock->waitForPending(1));
    call.cancel();
    EXPECT_THROW(call.value(), CancellationError);
}

TEST(TimeOutError, AnyTwoAreEqual) {
    EXPECT_EQ(TimeOutError(), TimeOutError());
    EXPECT_EQ(TimeOutError().toError().domain(), TimeOutError::domain);
}

TEST(ForceCancellable, GivesTheOperationsValueOrError) {
    EXPECT_EQ(forceCancellable([] { return 11; }), 11);
    EXPECT_THROW(forceCancellable([]() -> int { throw std::invalid_argument("bad"); }), std::invalid_argument);
    auto inTask = Task<int>::start([] { return forceCancellable([] { return 12; }); });
    EXPECT_EQ(inTask.value(), 12);
}

// An operation that blocks, deaf to cancellation, until the test releases it.
struct BlockedOperation {
    std::shared_ptr<std::latch> started = std::make_shared<std::latch>(1);
    std::shared_ptr<std::latch> release = std::make_shared<std::latch>(1);
    std::shared_ptr<std::latch> ended = std::make_shared<std::latch>(1);

    auto operation() const {
        return [started = started, release = release, ended = ended] {
            started->count_down();
            release->wait();
            ended->count_down();
            return 1;
        };
    }
};

TEST(ForceCancellable, ACancelledCallerWalksAwayFromABlockedOperation) {
    BlockedOperation already;
    std::latch cancelled(1);
    auto call = Task<int>::start([&, operation = already.operation()] {
        cancelled.wait();
        return forceCancellable(operation);
    });
    call.cancel();
    cancelled.count_down();
    EXPECT_THROW(call.value(), CancellationError) << "cancelled before the call";

    BlockedOperation during;
    auto waiting = Task<int>::start([operation = during.operation()] { return forceCancellable(operation); });
    during.started->wait();
    waiting.cancel();
    EXPECT_THROW(waiting.value(), CancellationError) << "cancelled during the call";

    for (auto* blocked : {&already, &during}) {
        EXPECT_FALSE(blocked->ended->try_wait());
        blocked->release->count_down();
    }
    during.ended->wait();
}

} // namespace
} // namespace velmor
