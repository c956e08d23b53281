#include "foundation/core/retry/Retry.hpp"
#include "foundation/core/retry/RetryError.hpp"
#include "foundation/core/retry/RetryScheduler.hpp"

#include "platform/dispatch/ManualTimerService.hpp"
#include "platform/testing/Watchdog.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <future>
#include <limits>
#include <stdexcept>
#include <thread>

namespace velmor {

namespace {

using Algorithm = RetryScheduler::DelayAlgorithm;
constexpr double inf = std::numeric_limits<double>::infinity();
constexpr double nan = std::numeric_limits<double>::quiet_NaN();
constexpr std::int64_t largest = std::numeric_limits<std::int64_t>::max();

Error failure(int code) {
    return Error("com.velmor.test.retry", code);
}

class RetrySchedulerTest : public ::testing::Test {
protected:
    std::shared_ptr<ManualTimerService> clock = std::make_shared<ManualTimerService>();
    ScopedTimerService scope{clock};
    SerialQueue queue{"com.velmor.test.retry"};
    testing::Watchdog watchdog{"a retry scheduler test"};

    // Timed attempts that fell due have run by the time it returns.
    void advance(double seconds) {
        clock->advance(seconds);
        queue.sync([] {});
    }
    // Seconds until the earliest pending deadline.
    double secondsToNextDeadline() {
        return std::chrono::duration<double>(*clock->nextDeadline() - clock->now()).count();
    }
};

} // namespace

TEST_F(RetrySchedulerTest, DelaysFollowTheRuleAndAreAlwaysUsable) {
    struct Case {
        double first, second;
        Algorithm algorithm;
        std::int64_t counter;
        double delay;
    } cases[] = {
        // The intervals come in either order and with either sign.
        {-300, 60, Algorithm::twoPowerOfCounter, 0, 60},
        {300, -60, Algorithm::twoPowerOfCounter, 1, 120},
        {60, 300, Algorithm::twoPowerOfCounter, 3, 300},
        {5, 5, Algorithm::twoPowerOfCounter, 0, 5},
        {60, 300, Algorithm::twoPowerOfCounter, -1, 30},
        // The power overflows to infinity: the maximum, or for a base of 0 not a number, made 0.
        {60, 300, Algorithm::twoPowerOfCounter, 1024, 300},
        {60, 300, Algorithm::twoPowerOfCounter, largest, 300},
        {0, 300, Algorithm::twoPowerOfCounter, 1024, 0},
        {0, 300, Algorithm::twoPowerOfCounter, 3, 0},
        {60, 300, Algorithm::constant, 10, 60},
        {60, 300, Algorithm::force1s, 7, 1},
        // Bad intervals give a delay within the timer's reach.
        {inf, 60, Algorithm::twoPowerOfCounter, 0, 60},
        {inf, 60, Algorithm::twoPowerOfCounter, 2000, TimerService::maximumDelay},
        {1e300, 1e300, Algorithm::constant, 0, TimerService::maximumDelay},
        {-inf, -inf, Algorithm::constant, 0, TimerService::maximumDelay},
        {nan, 60, Algorithm::twoPowerOfCounter, 1, 60},
        {nan, nan, Algorithm::constant, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.first << ", " << c.second << ", rule " << static_cast<int>(c.algorithm)
                                          << ", counter " << c.counter);
        auto scheduler = RetryScheduler::make(c.first, c.second, c.algorithm, queue);
        scheduler->setCounter(c.counter);
        EXPECT_EQ(scheduler->retry(), c.delay);
        EXPECT_DOUBLE_EQ(secondsToNextDeadline(), c.delay) << "booked on the clock with that delay";
        scheduler->cancelRetry();
    }
}

TEST_F(RetrySchedulerTest, LeewayIsATenthOfTheWholeSeconds) {
    struct Case {
        double delay, leeway;
    } cases[] = {{60, 6}, {300, 30}, {9.9, 0}, {15.5, 1}, {0, 0}, {inf, 9.2e8}, {nan, 0}};
    for (const auto& c : cases) {
        EXPECT_EQ(retryLeeway(c.delay), c.leeway) << c.delay;
    }
}

TEST_F(RetrySchedulerTest, ATimedAttemptRunsAtItsDeadlineAndNotBefore) {
    auto scheduler = RetryScheduler::make(60, 300, Algorithm::twoPowerOfCounter, queue);
    scheduler->setRetryBlock([] { return std::optional(failure(1)); });
    EXPECT_EQ(scheduler->retry(), 60);
    EXPECT_EQ(scheduler->retry(), 60) << "a second call books nothing";
    EXPECT_EQ(clock->pendingCount(), 1u);
    advance(59.5);
    EXPECT_EQ(scheduler->counter(), 0);
    advance(30); // a second booking would have fired at 60 as well
    EXPECT_EQ(scheduler->counter(), 1);
    EXPECT_EQ(scheduler->errors(), std::vector{failure(1)});
    EXPECT_EQ(clock->pendingCount(), 0u);

    // Idle again: the next call books anew, with the counter as it is now.
    EXPECT_EQ(scheduler->retry(), 120);
    scheduler->cancelRetry();
}

TEST_F(RetrySchedulerTest, ACancelledAttemptNeverRuns) {
    auto scheduler = RetryScheduler::make(60, 300, Algorithm::twoPowerOfCounter, queue);
    std::atomic<int> runs{0};
    scheduler->setRetryBlock([&] {
        ++runs;
        return std::optional<Error>();
    });
    scheduler->retry();
    scheduler->cancelRetry();
    advance(1000);
    EXPECT_EQ(runs, 0);
    EXPECT_EQ(scheduler->counter(), 0);

    scheduler->setCounter(2);
    EXPECT_EQ(scheduler->retry(), 240);
    advance(240);
    EXPECT_EQ(runs, 1);
    EXPECT_EQ(scheduler->counter(), 3);
    EXPECT_TRUE(scheduler->errors().empty()) << "a successful attempt adds no error";
}

TEST_F(RetrySchedulerTest, WithoutAQueueTryRunsTheAttemptBeforeReturning) {
    auto scheduler = RetryScheduler::make(1, 2, Algorithm::constant);
    int outcome = 0;
    scheduler->setRetryBlock([&] { return ++outcome == 2 ? std::optional(failure(2)) : std::nullopt; });
    scheduler->try_();
    EXPECT_EQ(scheduler->counter(), 1);
    EXPECT_TRUE(scheduler->errors().empty());
    scheduler->try_();
    EXPECT_EQ(scheduler->counter(), 2);
    EXPECT_EQ(scheduler->errors(), std::vector{failure(2)});
    EXPECT_EQ(clock->pendingCount(), 0u) << "try books no timer";
}

TEST_F(RetrySchedulerTest, ALoopThatRetriesOnFailureWaitsLongerEachTimeUpToTheMaximum) {
    auto scheduler = RetryScheduler::make(60, 300, Algorithm::twoPowerOfCounter, queue);
    std::vector<double> booked;
    scheduler->setRetryBlock([&] {
        booked.push_back(scheduler->retry());
        return std::optional(failure(static_cast<int>(booked.size())));
    });
    scheduler->try_();
    queue.sync([] {});
    std::vector<double> waited;
    for (int attempt = 0; attempt < 5; ++attempt) {
        waited.push_back(secondsToNextDeadline());
        advance(waited.back());
    }
    EXPECT_EQ(waited, (std::vector<double>{60, 120, 240, 300, 300}));
    EXPECT_EQ(booked, (std::vector<double>{60, 120, 240, 300, 300, 300}));
    EXPECT_EQ(scheduler->counter(), 6);
    EXPECT_EQ(scheduler->errors().size(), 6u);
    scheduler->setRetryBlock({});
    scheduler->cancelRetry();
}

TEST_F(RetrySchedulerTest, HugeDelaysNeverFireEarly) {
    for (double interval : {inf, 1e300, -1e300}) {
        auto scheduler = RetryScheduler::make(interval, interval, Algorithm::constant, queue);
        EXPECT_EQ(scheduler->retry(), TimerService::maximumDelay);
        advance(1e9);
        EXPECT_EQ(scheduler->counter(), 0) << interval;
        scheduler->cancelRetry();
    }
}

TEST_F(RetrySchedulerTest, APendingAttemptKeepsTheSchedulerAlive) {
    auto scheduler = RetryScheduler::make(5, 5, Algorithm::constant, queue);
    auto ran = std::make_shared<std::atomic<bool>>(false);
    scheduler->setRetryBlock([ran] {
        *ran = true;
        return std::optional<Error>();
    });
    scheduler->retry();
    std::weak_ptr<RetryScheduler> weak = scheduler;
    scheduler.reset();
    EXPECT_FALSE(weak.expired());
    advance(5);
    EXPECT_TRUE(*ran);
    EXPECT_TRUE(weak.expired()) << "nothing holds it once the attempt has run";
}

TEST_F(RetrySchedulerTest, CounterSaturatesAtTheLargestValue) {
    auto scheduler = RetryScheduler::make(1, 1, Algorithm::constant);
    scheduler->incrementCounter(5);
    EXPECT_EQ(scheduler->counter(), 5);
    scheduler->setCounter(-3);
    scheduler->incrementCounter(std::numeric_limits<std::uint64_t>::max());
    EXPECT_EQ(scheduler->counter(), largest);
    scheduler->try_();
    EXPECT_EQ(scheduler->counter(), largest);
}

TEST_F(RetrySchedulerTest, TryRacingTimedAttemptsCountsEveryAttempt) {
    // Without a queue, timed attempts run on the pool while `try_` runs on the caller's thread.
    auto scheduler = RetryScheduler::make(1, 1, Algorithm::constant);
    static thread_local bool onTryingThread = false;
    std::atomic<int> tried{0};
    std::atomic<int> timed{0};
    scheduler->setRetryBlock([&] {
        ++(onTryingThread ? tried : timed);
        return std::optional(failure(0));
    });
    constexpr int rounds = 200;
    std::thread trying([&] {
        onTryingThread = true;
        for (int i = 0; i < rounds; ++i) {
            scheduler->try_();
        }
    });
    for (int i = 0; i < rounds; ++i) {
        EXPECT_EQ(scheduler->retry(), 1);
        clock->advance(1);
        // The firing clears the booking before its attempt runs, so the next call books anew.
        while (timed < i + 1) {
            std::this_thread::yield();
        }
    }
    trying.join();
    // The last timed attempt is counted just after its block returns.
    for (int spin = 0; spin < 1000000 && scheduler->counter() < 2 * rounds; ++spin) {
        std::this_thread::yield();
    }
    EXPECT_EQ(tried, rounds);
    EXPECT_EQ(scheduler->counter(), 2 * rounds);
    EXPECT_EQ(scheduler->errors().size(), 2u * rounds);
}

TEST(RetryErrorTest, IsAnErrorOfItsOwnDomain) {
    Error error = TypedError(RetryError::unexpectedError).toError();
    EXPECT_EQ(error.domain(), "VelmorFoundation.RetryError");
    EXPECT_EQ(error.code(), 0);
}

// The blocking retry sleeps on the timer service, so it runs on a thread of its own while the test
// moves the clock.
class BlockingRetryTest : public RetrySchedulerTest {};

TEST_F(BlockingRetryTest, CallsUpToTimesPausingOneSecondMoreEachTime) {
    struct Case {
        std::int64_t times;
        int calls;
    } cases[] = {{-5, 1}, {0, 1}, {1, 1}, {3, 3}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.times);
        std::atomic<int> calls{0};
        auto running = std::async(std::launch::async, [&] {
            return retry(c.times, [&]() -> int { throw std::runtime_error("call " + std::to_string(++calls)); });
        });
        std::vector<double> pauses;
        while (running.wait_for(std::chrono::milliseconds(0)) != std::future_status::ready) {
            if (clock->waitForPending(1, 0.01)) {
                pauses.push_back(secondsToNextDeadline());
                clock->advance(pauses.back());
            }
        }
        try {
            running.get();
            ADD_FAILURE() << "the last error passes on";
        } catch (const std::runtime_error& error) {
            EXPECT_EQ(std::string(error.what()), "call " + std::to_string(c.calls));
        }
        EXPECT_EQ(calls, c.calls);
        std::vector<double> expected;
        for (int pause = 1; pause < c.calls; ++pause) {
            expected.push_back(pause);
        }
        EXPECT_EQ(pauses, expected);
    }
}

TEST_F(BlockingRetryTest, GivesTheFirstValueReturned) {
    int calls = 0;
    auto running = std::async(std::launch::async, [&] {
        return retry(5, [&] {
            if (++calls < 3) {
                throw std::runtime_error("not yet");
            }
            return std::string("done");
        });
    });
    for (double pause : {1, 2}) {
        ASSERT_TRUE(clock->waitForPending(1));
        EXPECT_EQ(secondsToNextDeadline(), pause);
        clock->advance(pause);
    }
    EXPECT_EQ(running.get(), "done");
    EXPECT_EQ(calls, 3);
}

} // namespace velmor
