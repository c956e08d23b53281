#include "platform/dispatch/DispatchTimer.hpp"

#include "platform/dispatch/ManualTimerService.hpp"
#include "platform/testing/Watchdog.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <latch>
#include <memory>
#include <thread>
#include <vector>

namespace velmor {

class DispatchTimerTest : public ::testing::Test {
protected:
    std::shared_ptr<ManualTimerService> clock = std::make_shared<ManualTimerService>();
    ScopedTimerService scope{clock};
    SerialQueue queue{"com.velmor.test.timer"};
    std::atomic<int> calls{0};

    // Handler calls that fell due are queued on `queue` by the time `advance` returns.
    void advance(double seconds) {
        clock->advance(seconds);
        queue.sync([] {});
    }
    std::unique_ptr<DispatchTimer> makeTimer(double deadline, std::optional<double> interval = std::nullopt) {
        auto timer = std::make_unique<DispatchTimer>(queue);
        timer->schedule(deadline, interval, 0.05);
        timer->setEventHandler([this] { ++calls; });
        timer->resume();
        return timer;
    }
};

TEST_F(DispatchTimerTest, OneShotFiresOnceAtItsDeadline) {
    auto timer = makeTimer(1);
    advance(0.9);
    EXPECT_EQ(calls, 0);
    advance(0.1);
    EXPECT_EQ(calls, 1);
    advance(10);
    EXPECT_EQ(calls, 1);
    EXPECT_DOUBLE_EQ(timer->leeway(), 0.05);
}

TEST_F(DispatchTimerTest, CancelledBeforeItsDeadlineNeverFires) {
    auto timer = makeTimer(1);
    timer->cancel();
    advance(5);
    EXPECT_EQ(calls, 0);
    EXPECT_TRUE(timer->isCancelled());
}

TEST_F(DispatchTimerTest, ATimerThatIsCancelledAndReplacedFiresOnce) {
    auto timer = makeTimer(1);
    timer->cancel();
    timer = makeTimer(1);
    advance(5);
    EXPECT_EQ(calls, 1);
}

TEST_F(DispatchTimerTest, NothingFiresBeforeResume) {
    DispatchTimer timer(queue);
    timer.schedule(1);
    timer.setEventHandler([this] { ++calls; });
    advance(2);
    EXPECT_EQ(calls, 0);
    timer.resume();
    advance(0);
    EXPECT_EQ(calls, 1) << "a deadline that has passed fires at once on resume";
}

TEST_F(DispatchTimerTest, RepeatsEveryIntervalUntilCancelledFromItsHandler) {
    DispatchTimer timer(queue);
    timer.schedule(0.1, 0.1);
    timer.setEventHandler([&] {
        if (++calls == 3) {
            timer.cancel();
        }
    });
    timer.resume();
    for (int tick = 0; tick < 6; ++tick) {
        advance(0.1);
    }
    EXPECT_EQ(calls, 3);
}

TEST_F(DispatchTimerTest, RescheduleReplacesThePendingDeadline) {
    auto timer = makeTimer(1);
    timer->schedule(3);
    advance(2);
    EXPECT_EQ(calls, 0);
    advance(1);
    EXPECT_EQ(calls, 1);
}

TEST_F(DispatchTimerTest, WithoutAQueueTheHandlerRunsOnThePool) {
    DispatchTimer timer;
    std::latch fired(1);
    timer.schedule(1);
    timer.setEventHandler([&] { fired.count_down(); });
    timer.resume();
    clock->advance(1);
    fired.wait();
}

TEST_F(DispatchTimerTest, CancelReleasesTheHandlerAndWhatItHolds) {
    auto held = std::make_shared<int>(1);
    auto timer = makeTimer(1);
    timer->setEventHandler([held] {});
    EXPECT_EQ(held.use_count(), 2);
    timer->cancel();
    EXPECT_EQ(held.use_count(), 1);
}

// Keeps a handler call running until its timer is cancelled, and a while longer: long enough for
// a cancel that does not wait to return, so that the test sees it did.
void outlastTheCancel(const DispatchTimer& timer, const std::atomic<bool>& cancelReturned) {
    while (!timer.isCancelled()) {
        std::this_thread::yield();
    }
    for (int i = 0; i < 300 && !cancelReturned; ++i) {
        std::this_thread::sleep_for(std::chrono::microseconds(50));
    }
}

TEST_F(DispatchTimerTest, CancelAndWaitReturnsAfterTheRunningHandlerCall) {
    DispatchTimer timer(queue);
    std::latch started(1);
    std::atomic<bool> cancelReturned{false};
    std::atomic<bool> returnedBeforeTheEnd{false};
    timer.schedule(1);
    timer.setEventHandler([&] {
        started.count_down();
        outlastTheCancel(timer, cancelReturned);
        returnedBeforeTheEnd = cancelReturned.load();
    });
    timer.resume();
    clock->advance(1);
    started.wait();
    timer.cancelAndWait();
    cancelReturned = true;
    EXPECT_FALSE(returnedBeforeTheEnd);
}

TEST_F(DispatchTimerTest, AnOwnerThatGoesWaitsForItsTimersHandler) {
    struct Owner {
        std::vector<int> seen;
        DispatchTimer timer;
    };
    auto owner = std::make_unique<Owner>();
    std::latch started(1);
    std::atomic<bool> gone{false};
    owner->timer.schedule(1);
    owner->timer.setEventHandler([&, raw = owner.get()] {
        started.count_down();
        outlastTheCancel(raw->timer, gone);
        raw->seen.push_back(1);
    });
    owner->timer.resume();
    clock->advance(1);
    started.wait();
    owner.reset();
    gone = true;
}

TEST_F(DispatchTimerTest, CancelAndWaitFromTheHandlerItselfReturns) {
    DispatchTimer timer(queue);
    std::latch done(1);
    timer.schedule(1);
    timer.setEventHandler([&] {
        timer.cancelAndWait();
        done.count_down();
    });
    timer.resume();
    clock->advance(1);
    testing::Watchdog watchdog("cancelAndWait called from its own handler");
    done.wait();
}

} // namespace velmor

namespace velmor {

TEST(DispatchTimer, FiresOnTheSteadyClockOfTheProcess) {
    SerialQueue queue("com.velmor.test.steady");
    std::latch fired(2);
    DispatchTimer timer(queue);
    timer.schedule(0.001, 0.001);
    timer.setEventHandler([&] {
        if (!fired.try_wait()) {
            fired.count_down();
        }
    });
    timer.resume();
    fired.wait();
    timer.cancel();
}

} // namespace velmor
