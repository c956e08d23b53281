#include "foundation/core/async/AutoCancelling.hpp"
#include "foundation/core/async/AutoCancellingTask.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

namespace velmor {
namespace {

// Blocks until the current task is cancelled.
void waitForCancellation() {
    std::mutex mutex;
    std::condition_variable_any never;
    std::unique_lock lock(mutex);
    never.wait(lock, detail::currentStopToken(), [] { return false; });
}

Task<> runningTask() {
    return Task<>::start(waitForCancellation);
}

TEST(AutoCancelling, StoringCancelsTheHeldTaskOnly) {
    auto first = runningTask();
    auto second = runningTask();
    AutoCancelling<> holder(first);
    EXPECT_FALSE(first.wasCancelled()) << "holding a task at creation cancels nothing";

    holder = second;
    EXPECT_TRUE(first.wasCancelled());
    EXPECT_FALSE(second.wasCancelled());
    EXPECT_EQ(holder.wrappedValue(), second);

    holder = std::nullopt;
    EXPECT_TRUE(second.wasCancelled());
    EXPECT_FALSE(holder.wrappedValue().has_value());

    auto third = runningTask();
    holder = third;
    holder = *holder.wrappedValue();
    EXPECT_TRUE(third.wasCancelled()) << "storing the held handle again cancels that very task";
    EXPECT_EQ(holder.wrappedValue(), third);
    first.wait();
    second.wait();
    third.wait();
}

TEST(AutoCancelling, TheHoldersEndCancelsTheHeldTask) {
    auto wrapped = runningTask();
    auto locked = runningTask();
    {
        AutoCancelling<> holder(wrapped);
        AutoCancellingTask<> lockedHolder(locked);
        EXPECT_FALSE(wrapped.wasCancelled());
        EXPECT_FALSE(locked.wasCancelled());
    }
    EXPECT_TRUE(wrapped.wasCancelled());
    EXPECT_TRUE(locked.wasCancelled());
    wrapped.wait();
    locked.wait();
}

TEST(AutoCancellingTask, RunCancelsTheTaskStartedBefore) {
    AutoCancellingTask<int> holder;
    holder.run([] {
        waitForCancellation();
        return 1;
    });
    auto first = *holder.task();
    holder.run([]() -> int {
        waitForCancellation();
        throw std::runtime_error("stopped");
    });
    auto second = *holder.task();
    EXPECT_TRUE(first.wasCancelled());
    EXPECT_EQ(first.value(), 1);
    EXPECT_FALSE(second.wasCancelled());

    holder.setTask(std::nullopt);
    EXPECT_TRUE(second.wasCancelled());
    EXPECT_FALSE(holder.task().has_value());
    EXPECT_THROW(second.value(), std::runtime_error);
}

TEST(AutoCancellingTask, RunsFromManyThreadsLeaveExactlyTheLastHeldTaskRunning) {
    AutoCancellingTask<> holder;
    std::mutex startedMutex;
    std::vector<Task<>> started;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 20; ++i) {
                holder.run(waitForCancellation);
                std::lock_guard lock(startedMutex);
                started.push_back(*holder.task());
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    auto held = *holder.task();
    for (const auto& task : started) {
        if (task != held) {
            EXPECT_TRUE(task.wasCancelled());
            task.wait();
        }
    }
    EXPECT_FALSE(held.wasCancelled());
    holder.setTask(std::nullopt);
    held.wait();
}

struct HandlerCase {
    const char* name;
    std::function<int()> operation;
    std::function<void()> handlerExtra;
    bool fails;
};

TEST(TaskWithErrorHandler, TheHandlerHearsEveryErrorOnceAndTheTaskFailsWithIt) {
    const HandlerCase cases[] = {
        {"returns", [] { return 5; }, [] {}, false},
        {"throws", []() -> int { throw std::runtime_error("operation failed"); }, [] {}, true},
        {"throws, and so does the handler", []() -> int { throw std::runtime_error("operation failed"); },
         [] { throw std::logic_error("handler failed"); }, true},
    };
    for (const auto& c : cases) {
        std::atomic<int> handled{0};
        std::exception_ptr heard;
        auto task = Task<int>::start(c.operation, [&](std::exception_ptr error) {
            ++handled;
            heard = error;
            c.handlerExtra();
        });
        if (!c.fails) {
            EXPECT_EQ(task.value(), 5) << c.name;
            EXPECT_EQ(handled, 0) << c.name;
            continue;
        }
        try {
            task.value();
            ADD_FAILURE() << c.name << ": the task did not fail";
        } catch (const std::runtime_error&) {
            EXPECT_EQ(std::current_exception(), heard) << c.name << ": the task fails with the error the handler heard";
        }
        EXPECT_EQ(handled, 1) << c.name;
    }
}

} // namespace
} // namespace velmor
