#include "sdk/duplicates/pipeline/Lookahead.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <new>
#include <thread>

// This program's allocations, with one of them made to fail on the thread that asks for it: the
// way to make handing out work run out of memory at each of its allocations in turn.
namespace {
// How many allocations of this thread succeed before one fails; negative for none.
thread_local long allocationsBeforeFailure = -1;
thread_local bool allocationFailed = false;
} // namespace

void* operator new(std::size_t size) {
    if (allocationsBeforeFailure == 0) {
        allocationsBeforeFailure = -1;
        allocationFailed = true;
        throw std::bad_alloc();
    }
    if (allocationsBeforeFailure > 0) {
        --allocationsBeforeFailure;
    }
    if (void* memory = std::malloc(size == 0 ? 1 : size)) {
        return memory;
    }
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) { return operator new(size); }
void operator delete(void* memory) noexcept { std::free(memory); }
void operator delete[](void* memory) noexcept { std::free(memory); }
void operator delete(void* memory, std::size_t) noexcept { std::free(memory); }
void operator delete[](void* memory, std::size_t) noexcept { std::free(memory); }

namespace sweepkit::pipeline {
namespace {

// Whatever allocation fails while work is handed out, no piece runs once `fulfil` has left, and the
// failure leaves it unless the work was done all the same.
TEST(Lookahead, AFailureToHandOutWorkLeavesOnlyOnceTheThreadsStartedHaveStopped) {
    constexpr int pieces = 120;
    int failuresSeen = 0;
    for (long allowed = 0;; ++allowed) {
        SCOPED_TRACE(allowed);
        std::atomic<int> running = 0;
        std::atomic<int> ran = 0;
        Lookahead lookahead;
        for (int piece = 0; piece < pieces; ++piece) {
            lookahead.request([&] {
                ++running;
                std::this_thread::sleep_for(std::chrono::microseconds(200));
                ++ran;
                --running;
            });
        }
        bool thrown = false;
        allocationFailed = false;
        allocationsBeforeFailure = allowed;
        try {
            lookahead.fulfil(4);
        } catch (const std::bad_alloc&) {
            thrown = true;
        }
        allocationsBeforeFailure = -1;
        EXPECT_EQ(running.load(), 0) << "work still runs after fulfil left";
        const int ranWhenLeft = ran.load();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        EXPECT_EQ(ran.load(), ranWhenLeft) << "work ran after fulfil left";
        // A failure it does not throw is one the work was handed out despite: a worker that came
        // free took the piece.
        if (!thrown) {
            EXPECT_EQ(ran.load(), pieces);
        }
        if (!allocationFailed || ::testing::Test::HasFailure()) {
            break;
        }
        failuresSeen += thrown ? 1 : 0;
    }
    EXPECT_GT(failuresSeen, 0);
}

} // namespace
} // namespace sweepkit::pipeline
