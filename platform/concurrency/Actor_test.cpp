#include "platform/concurrency/Actor.hpp"

#include "platform/concurrency/CheckedContinuation.hpp"
#include "platform/concurrency/RunLoop.hpp"
#include "platform/concurrency/Task.hpp"
#include "platform/concurrency/TaskGroup.hpp"
#include "platform/dispatch/ManualTimerService.hpp"
#include "platform/testing/Watchdog.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
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
    clock->advanceUntil([&] { return sleeper.isFinished(); });
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

// Each operation waits, inside actor `a`, for work that enters `a` itself: a reentrant actor lets
// that work in while it waits.
TEST(Actor, AReentrantActorLetsInTheWorkItWaitsFor) {
    Actor a("test.a");
    Actor b("test.b");
    auto enterA = [&] { return a.run([] { return 1; }); };
    struct Case {
        const char* wait;
        std::function<int()> operation;
    };
    std::vector<Case> cases{
        {"a task", [&] { return Task<int>::start(enterA).value(); }},
        {"a task waiting on another actor that waits back",
         [&] {
             return Task<int>::start([&] { return b.run([&] { return Task<int>::start(enterA).value(); }); })
                 .value();
         }},
        {"a group child",
         [&] {
             return withTaskGroup<int>([&](TaskGroup<int>& group) {
                 group.addTask(enterA);
                 return *group.next();
             });
         }},
        {"a continuation",
         [&] {
             return withCheckedContinuation<int>("enter a", [&](CheckedContinuation<int> continuation) {
                 Task<>::start([&, continuation] { continuation.resume(enterA()); });
             });
         }},
    };
    for (const auto& c : cases) {
        testing::Watchdog watchdog(std::string("an operation of a reentrant actor waiting on ") + c.wait);
        auto caller = Task<int>::start([&] {
            return a.run([&] {
                int result = c.operation();
                EXPECT_TRUE(a.isIsolated()) << "taken back after the wait";
                return result;
            });
        });
        EXPECT_EQ(caller.value(), 1) << c.wait;
    }
}

TEST(Actor, AWorkerWaitingForTheMainThreadLetsTheMainThreadIn) {
    ScopedMainRunLoop main;
    Actor actor("test.shared");
    auto worker = Task<int>::start([&] {
        return actor.run([&] { return MainActor::run([&] { return actor.run([] { return 5; }); }); });
    });
    ASSERT_TRUE(main.runUntil([&] { return worker.isFinished(); }));
    EXPECT_EQ(worker.value(), 5);
}

TEST(Actor, OnlyAReentrantActorLetsOthersInWhileAnOperationWaitsOnATask) {
    for (auto reentrancy : {Actor::Reentrancy::reentrant, Actor::Reentrancy::nonReentrant}) {
        Actor actor("test.reentrancy", reentrancy);
        std::atomic<bool> otherEntered{false};
        Task<> other;
        auto holder = Task<bool>::start([&] {
            return actor.run([&] {
                Task<>::start([&] {
                    other = Task<>::start([&] { actor.run([&] { otherEntered = true; }); });
                    // Gives the other operation every chance to get in while the holder waits.
                    for (int i = 0; i < 300 && !otherEntered; ++i) {
                        std::this_thread::sleep_for(std::chrono::microseconds(50));
                    }
                }).value();
                return otherEntered.load();
            });
        });
        bool enteredDuringTheWait = holder.value();
        other.value();
        EXPECT_EQ(enteredDuringTheWait, reentrancy == Actor::Reentrancy::reentrant);
    }
}

} // namespace velmor
