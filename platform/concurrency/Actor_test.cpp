#include "platform/concurrency/Actor.hpp"

#include "platform/concurrency/Task.hpp"
#include "platform/dispatch/ManualTimerService.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <latch>
#include <thread>
#include <vector>

namespace velmor {

TEST(Actor, RunsOneOperationAtATime) {
    Actor actor("test.actor");
    int unguarded = 0;
    std::atomic<int> inside{0};
    std::atomic<bool> overlapped{false};
    std::vector<std::thread> callers;
    for (int caller = 0; caller < 6; ++caller) {
        callers.emplace_back([&] {
            for (int i = 0; i < 500; ++i) {
                actor.run([&] {
                    if (inside.fetch_add(1) != 0) {
                        overlapped = true;
                    }
                    ++unguarded;
                    inside.fetch_sub(1);
                });
            }
        });
    }
    for (auto& caller : callers) {
        caller.join();
    }
    EXPECT_FALSE(overlapped);
    EXPECT_EQ(unguarded, 3000);
}

TEST(Actor, AnOperationCanCallBackIntoItsOwnActor) {
    Actor actor;
    EXPECT_FALSE(actor.isIsolated());
    int value = actor.run([&] { return actor.run([&] { return actor.isIsolated() ? 2 : 0; }); });
    EXPECT_EQ(value, 2);
    EXPECT_FALSE(actor.isIsolated());
}

TEST(Actor, AnErrorLeavesTheActorFree) {
    Actor actor;
    EXPECT_THROW(actor.run([]() -> int { throw std::runtime_error("failed"); }), std::runtime_error);
    auto other = Task<int>::start([&] { return actor.run([] { return 1; }); });
    EXPECT_EQ(other.value(), 1);
}

TEST(Actor, ASleepingOperationLetsOthersIn) {
    auto clock = std::make_shared<ManualTimerService>();
    ScopedTimerService scope(clock);
    Actor actor;
    std::latch asleep(1);
    std::vector<std::string> log;
    auto sleeper = Task<>::start([&] {
        actor.run([&] {
            log.push_back("sleeper starts");
            asleep.count_down();
            actor.sleep(1);
            log.push_back("sleeper ends");
            EXPECT_TRUE(actor.isIsolated());
        });
    });
    asleep.wait();
    // Runs to its end while the sleeper sleeps, which it could not if the actor were held.
    auto other = Task<>::start([&] { actor.run([&] { log.push_back("other"); }); });
    other.value();
    while (!sleeper.isFinished()) {
        clock->advance(1);
        std::this_thread::yield();
    }
    sleeper.value();
    EXPECT_EQ(log, (std::vector<std::string>{"sleeper starts", "other", "sleeper ends"}));
}

TEST(Actor, AWholeOperationHoldsTheActorWhileItWaits) {
    Actor actor;
    std::latch holding(1);
    std::latch release(1);
    std::atomic<bool> otherRan{false};
    auto holder = Task<>::start([&] {
        actor.run([&] {
            holding.count_down();
            release.wait();
            EXPECT_FALSE(otherRan);
        });
    });
    holding.wait();
    auto other = Task<>::start([&] { actor.run([&] { otherRan = true; }); });
    release.count_down();
    holder.value();
    other.value();
    EXPECT_TRUE(otherRan);
}

} // namespace velmor
