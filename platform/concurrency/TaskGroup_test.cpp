#include "platform/concurrency/TaskGroup.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <latch>
#include <stdexcept>
#include <vector>

namespace velmor {

TEST(TaskGroup, NextYieldsInCompletionOrder) {
    // Child i may finish only after child i + 1 has: the results must come back reversed.
    constexpr int children = 4;
    std::vector<std::unique_ptr<std::latch>> mayFinish;
    for (int i = 0; i <= children; ++i) {
        mayFinish.push_back(std::make_unique<std::latch>(1));
    }
    std::vector<int> order = withTaskGroup<int>([&](TaskGroup<int>& group) {
        for (int i = 0; i < children; ++i) {
            group.addTask([&, i] {
                mayFinish[i]->wait();
                return i;
            });
        }
        std::vector<int> seen;
        mayFinish[children - 1]->count_down();
        while (auto next = group.next()) {
            seen.push_back(*next);
            if (*next > 0) {
                mayFinish[*next - 1]->count_down();
            }
        }
        return seen;
    });
    EXPECT_EQ(order, (std::vector<int>{3, 2, 1, 0}));
}

TEST(TaskGroup, CancellingATaskReachesTheGrandchildrenOfItsGroup) {
    std::atomic<int> sleeping{0};
    std::atomic<int> sawCancellation{0};
    auto sleepUntilCancelled = [&] {
        ++sleeping;
        try {
            Task<>::sleep(1e6);
        } catch (const CancellationError&) {
            ++sawCancellation;
        }
    };
    auto task = Task<>::start([&] {
        withTaskGroup<void>([&](TaskGroup<void>& group) {
            for (int child = 0; child < 2; ++child) {
                group.addTask([&] {
                    withTaskGroup<void>([&](TaskGroup<void>& inner) {
                        inner.addTask(sleepUntilCancelled);
                        inner.addTask(sleepUntilCancelled);
                    });
                });
            }
        });
    });
    while (sleeping < 4) {
        std::this_thread::yield();
    }
    task.cancel();
    task.value();
    EXPECT_EQ(sawCancellation, 4);
}

TEST(TaskGroup, ABodyThatThrowsCancelsAndAwaitsTheChildrenFirst) {
    std::atomic<bool> childEnded{false};
    std::latch started(1);
    EXPECT_THROW(withThrowingTaskGroup<void>([&](ThrowingTaskGroup<void>& group) {
                     group.addTask([&] {
                         started.count_down();
                         try {
                             Task<>::sleep(1e6);
                         } catch (...) {
                             childEnded = true;
                             throw;
                         }
                     });
                     started.wait();
                     throw std::runtime_error("body failed");
                 }),
                 std::runtime_error);
    EXPECT_TRUE(childEnded);
}

TEST(TaskGroup, NextRethrowsAChildErrorAndGoesOnWithTheOthers) {
    auto results = withThrowingTaskGroup<int>([](ThrowingTaskGroup<int>& group) {
        group.addTask([]() -> int { throw std::runtime_error("child failed"); });
        group.addTask([] { return 2; });
        int sum = 0;
        int errors = 0;
        for (;;) {
            try {
                auto next = group.next();
                if (!next) {
                    break;
                }
                sum += *next;
            } catch (const std::runtime_error&) {
                ++errors;
            }
        }
        return std::make_pair(sum, errors);
    });
    EXPECT_EQ(results, std::make_pair(2, 1));
}

TEST(TaskGroup, CancelAllReachesRunningAndLaterChildren) {
    withTaskGroup<void>([](TaskGroup<void>& group) {
        EXPECT_TRUE(group.isEmpty());
        EXPECT_FALSE(group.next().has_value());
        group.addTask([] { EXPECT_THROW(Task<>::sleep(1e6), CancellationError); });
        group.cancelAll();
        EXPECT_TRUE(group.isCancelled());
        group.addTask([] { EXPECT_TRUE(Task<>::isCancelled()); });
        group.waitForAll();
        EXPECT_TRUE(group.isEmpty());
    });
}

} // namespace velmor
