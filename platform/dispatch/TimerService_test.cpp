#include "platform/dispatch/ManualTimerService.hpp"

#include "platform/testing/Watchdog.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <latch>
#include <limits>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace velmor {

TEST(TimerService, AThrowingEntryIsReportedAndLaterEntriesStillFire) {
    ManualTimerService clock;
    std::vector<int> fired;
    clock.schedule(clock.deadlineAfter(1), [] { throw std::runtime_error("handler failed"); });
    clock.schedule(clock.deadlineAfter(2), [&] { fired.push_back(2); });
    ::testing::internal::CaptureStderr();
    EXPECT_NO_THROW(clock.advance(3));
    EXPECT_NE(::testing::internal::GetCapturedStderr().find("handler failed"), std::string::npos);
    EXPECT_EQ(fired, std::vector<int>{2});

    // On the process's own timer thread an escaping error used to end the process.
    auto steady = TimerService::current();
    std::latch later(1);
    steady->schedule(steady->now(), [] { throw std::runtime_error("steady handler failed"); });
    steady->schedule(steady->now(), [&] { later.count_down(); });
    testing::Watchdog watchdog("the entry after a throwing one on the timer thread");
    later.wait();
}

TEST(TimerService, PendingEntriesAndTheNextDeadlineAreVisible) {
    ManualTimerService clock;
    EXPECT_EQ(clock.pendingCount(), 0u);
    EXPECT_FALSE(clock.nextDeadline());
    auto start = clock.now();
    auto late = clock.schedule(clock.deadlineAfter(7), [] {});
    clock.schedule(clock.deadlineAfter(5), [] {});
    EXPECT_EQ(clock.pendingCount(), 2u);
    EXPECT_EQ(clock.nextDeadline(), start + std::chrono::seconds(5));
    clock.unschedule(late);
    clock.advance(5);
    EXPECT_EQ(clock.pendingCount(), 0u);
    EXPECT_TRUE(clock.waitForPending(0));

    std::thread registrar([&] { clock.schedule(clock.deadlineAfter(1), [] {}); });
    EXPECT_TRUE(clock.waitForPending(1));
    registrar.join();
    EXPECT_EQ(clock.nextDeadline(), clock.now() + std::chrono::seconds(1));
}

TEST(TimerService, TheTimerThreadMeetsEveryDeadlineWhateverItSleepsUntil) {
    // The timer thread sleeps until the earliest deadline it knew of; an entry due sooner must wake
    // it, and one due later must still fire once the earlier entries have gone.
    using std::chrono::milliseconds;
    struct Case {
        const char* name;
        milliseconds sleeper;  // what the thread sleeps until first
        bool sleeperRemoved;   // taken away before the measured entry is scheduled
        milliseconds measured; // the entry that must fire
    };
    for (const Case& c : {Case{"sooner than the one slept for", milliseconds(3600000), false, milliseconds(10)},
                          Case{"sooner than one taken away", milliseconds(3600000), true, milliseconds(10)},
                          Case{"later than one taken away", milliseconds(20), true, milliseconds(40)},
                          Case{"later than one still due", milliseconds(20), false, milliseconds(40)}}) {
        SCOPED_TRACE(c.name);
        testing::Watchdog watchdog(std::string("a timer entry ") + c.name, 30);
        auto steady = TimerService::current();
        auto sleeper = steady->schedule(steady->now() + c.sleeper, [] {});
        // Lets the thread take up its sleep before the entries change.
        std::this_thread::sleep_for(milliseconds(5));
        if (c.sleeperRemoved) {
            steady->unschedule(sleeper);
        }
        std::latch fired(1);
        steady->schedule(steady->now() + c.measured, [&] { fired.count_down(); });
        fired.wait();
        steady->unschedule(sleeper);
    }
}

} // namespace velmor

namespace velmor {

TEST(TimerService, DeadlinesOfUnusableDelaysStayWithinTheClock) {
    ManualTimerService clock;
    using TimePoint = TimerService::TimePoint;
    EXPECT_EQ(clock.deadlineAfter(std::numeric_limits<double>::quiet_NaN()), clock.now());
    EXPECT_EQ(clock.deadlineAfter(-5), clock.now());
    EXPECT_GT(clock.deadlineAfter(std::numeric_limits<double>::infinity()), clock.now());
    // Once the clock has run long, the longest wait no longer fits after it: the deadline is the
    // furthest the clock can tell, not a time in the past.
    clock.advance(1e9);
    EXPECT_EQ(clock.deadlineAfter(1e300), TimePoint::max());
    EXPECT_EQ(clock.deadlineAfter(std::numeric_limits<double>::infinity()), TimePoint::max());
    EXPECT_EQ(boundedDelay(std::numeric_limits<double>::quiet_NaN()), 0);
    EXPECT_EQ(boundedDelay(-1), 0);
    EXPECT_EQ(boundedDelay(1e300), TimerService::maximumDelay);
    EXPECT_EQ(boundedDelay(2.5), 2.5);
}

} // namespace velmor
