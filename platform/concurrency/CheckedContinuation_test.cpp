#include "platform/concurrency/CheckedContinuation.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <latch>
#include <optional>
#include <stdexcept>
#include <thread>

namespace velmor {

TEST(CheckedContinuation, ResumedFromAnotherThreadHandsBackItsValueOrError) {
    std::thread worker;
    int value = withCheckedContinuation<int>("value", [&](CheckedContinuation<int> continuation) {
        worker = std::thread([continuation] { continuation.resume(7); });
    });
    worker.join();
    EXPECT_EQ(value, 7);

    EXPECT_THROW(withCheckedContinuation<void>("error",
                                               [&](CheckedContinuation<void> continuation) {
                                                   worker = std::thread([continuation] {
                                                       continuation.resumeThrowing(
                                                           std::runtime_error("failed"));
                                                   });
                                               }),
                 std::runtime_error);
    worker.join();

    withCheckedContinuation<void>("inline",
                                  [](CheckedContinuation<void> continuation) { continuation.resume(); });
}

TEST(CheckedContinuationDeathTest, ASecondResumeIsCaught) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(withCheckedContinuation<int>("clean(item)",
                                              [](CheckedContinuation<int> continuation) {
                                                  continuation.resume(1);
                                                  continuation.resume(2);
                                              }),
                 "continuation of clean\\(item\\) resumed more than once");
}

TEST(CheckedContinuation, DroppingItUnresumedReleasesTheWaiterWithAnError) {
    ::testing::internal::CaptureStderr();
    try {
        withCheckedContinuation<int>("lost", [](CheckedContinuation<int>) {});
        FAIL() << "expected an error";
    } catch (const std::logic_error& error) {
        EXPECT_NE(std::string(error.what()).find("continuation of lost was dropped"), std::string::npos);
    }
    EXPECT_NE(::testing::internal::GetCapturedStderr().find("lost"), std::string::npos);
}

TEST(CheckedContinuation, OfTwoRacingResumersExactlyOneWins) {
    for (int round = 0; round < 200; ++round) {
        std::atomic<int> winner{0};
        std::thread first;
        std::thread second;
        int value = withCheckedContinuation<int>("race", [&](CheckedContinuation<int> continuation) {
            auto racer = [continuation, &winner](int id) {
                if (continuation.tryResume(id)) {
                    EXPECT_EQ(winner.exchange(id), 0) << "two resumers won";
                }
            };
            first = std::thread(racer, 1);
            second = std::thread(racer, 2);
        });
        first.join();
        second.join();
        ASSERT_EQ(value, winner.load());
    }
    // An error may race a value the same way.
    EXPECT_THROW(withCheckedContinuation<void>("error first",
                                               [](CheckedContinuation<void> continuation) {
                                                   EXPECT_TRUE(continuation.tryResumeThrowing(
                                                       std::runtime_error("cancelled")));
                                                   EXPECT_FALSE(continuation.tryResume());
                                               }),
                 std::runtime_error);
}

TEST(CheckedContinuation, ABodyThatThrowsHandsOnItsErrorAndNothingElse) {
    std::optional<CheckedContinuation<int>> kept;
    ::testing::internal::CaptureStderr();
    EXPECT_THROW(withCheckedContinuation<int>("failing body",
                                              [&](CheckedContinuation<int> continuation) {
                                                  kept = continuation;
                                                  throw std::invalid_argument("bad request");
                                              }),
                 std::invalid_argument);
    kept->resume(1);
    kept.reset();
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
}

} // namespace velmor
