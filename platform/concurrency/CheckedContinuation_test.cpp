#include "platform/concurrency/CheckedContinuation.hpp"

#include <gtest/gtest.h>

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
    testing::internal::CaptureStderr();
    try {
        withCheckedContinuation<int>("lost", [](CheckedContinuation<int>) {});
        FAIL() << "expected an error";
    } catch (const std::logic_error& error) {
        EXPECT_NE(std::string(error.what()).find("continuation of lost was dropped"), std::string::npos);
    }
    EXPECT_NE(testing::internal::GetCapturedStderr().find("lost"), std::string::npos);
}

} // namespace velmor
