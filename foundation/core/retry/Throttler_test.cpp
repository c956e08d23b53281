#include "foundation/core/retry/Throttler.hpp"

#include "platform/dispatch/ManualTimerService.hpp"
#include "platform/testing/Watchdog.hpp"

#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace velmor {

namespace {

class ThrottlerTest : public ::testing::Test {
protected:
    std::shared_ptr<ManualTimerService> clock = std::make_shared<ManualTimerService>();
    ScopedTimerService scope{clock};
    SerialQueue queue{"com.velmor.test.throttler"};
    testing::Watchdog watchdog{"a throttler test"};
    std::shared_ptr<Throttler> throttler = Throttler::make(1, queue);
    std::mutex mutex;
    // Each run: its request's name and the clock's reading, in seconds, when it ran.
    std::vector<std::pair<std::string, double>> runs;

    double seconds() { return std::chrono::duration<double>(clock->now().time_since_epoch()).count(); }
    std::function<void()> request(std::string name) {
        return [this, name] {
            std::lock_guard lock(mutex);
            runs.emplace_back(name, seconds());
        };
    }
    // What ran so far, once the queue has done what fell due. A run takes its time when it starts,
    // so a test lets a run start before it moves the clock.
    std::vector<std::pair<std::string, double>> ran() {
        queue.sync([] {});
        std::lock_guard lock(mutex);
        return runs;
    }
    void advance(double seconds) {
        clock->advance(seconds);
        queue.sync([] {});
    }
};

using Runs = std::vector<std::pair<std::string, double>>;

} // namespace

TEST_F(ThrottlerTest, AFirstRequestRunsAtOnce) {
    throttler->throttle(request("a"));
    EXPECT_EQ(ran(), (Runs{{"a", 0}}));
}

TEST_F(ThrottlerTest, OfABurstOnlyTheLastRunsAMinimumDelayAfterItWasMade) {
    throttler->throttle(request("a"));
    ASSERT_EQ(ran().size(), 1u);
    for (const char* name : {"b", "c", "d"}) {
        advance(0.25);
        throttler->throttle(request(name));
    }
    advance(0.75);
    EXPECT_EQ(ran(), (Runs{{"a", 0}})) << "b and c came due, cancelled";
    advance(0.25);
    EXPECT_EQ(ran(), (Runs{{"a", 0}, {"d", 1.75}}));
    advance(5);
    EXPECT_EQ(ran().size(), 2u);
}

TEST_F(ThrottlerTest, ARequestWaitsTheWholeDelayUnlessThePreviousRunIsLongEnoughAgo) {
    throttler->throttle(request("a"));
    ASSERT_EQ(ran().size(), 1u);
    advance(1.5);
    throttler->throttle(request("b"));
    EXPECT_EQ(ran(), (Runs{{"a", 0}, {"b", 1.5}})) << "1.5 s after the previous run: at once";
    advance(0.5);
    throttler->throttle(request("c"));
    advance(0.75);
    EXPECT_EQ(ran().size(), 2u);
    advance(0.25);
    EXPECT_EQ(ran().back(), (std::pair<std::string, double>{"c", 3.0})) << "0.5 s after: the full second";
}

TEST_F(ThrottlerTest, ARequestRunsEvenWhenItsThrottlerIsGone) {
    throttler->throttle(request("a"));
    ASSERT_EQ(ran().size(), 1u);
    advance(0.5);
    throttler->throttle(request("b"));
    throttler.reset();
    advance(1);
    EXPECT_EQ(ran(), (Runs{{"a", 0}, {"b", 1.5}}));
}

TEST_F(ThrottlerTest, RequestsFromManyThreadsLeaveOneRunPerQuietSpell) {
    throttler->throttle(request("first"));
    ASSERT_EQ(ran().size(), 1u);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 50; ++i) {
                throttler->throttle(request("burst" + std::to_string(t)));
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    advance(1);
    EXPECT_EQ(ran().size(), 2u) << "only the last request of the burst ran";
}

} // namespace velmor
