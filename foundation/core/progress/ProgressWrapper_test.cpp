#include "foundation/core/progress/ProgressWrapper.hpp"

#include "foundation/core/progress/ProgressObjectHandler.hpp"
#include "platform/concurrency/RunLoop.hpp"
#include "platform/dispatch/ManualTimerService.hpp"

#include <gtest/gtest.h>

#include <regex>
#include <thread>
#include <vector>

namespace velmor {

class ProgressWrapperTest : public ::testing::Test {
protected:
    std::shared_ptr<ManualTimerService> clock = std::make_shared<ManualTimerService>();
    ScopedTimerService scope{clock};
    RunLoop loop;

    // The copy runs on the pool after a tick: wait until the object shows what is expected.
    bool shows(const Progress& progress, std::int64_t completed, std::int64_t total) {
        return loop.runUntil(
            [&] { return progress.completedUnitCount() == completed && progress.totalUnitCount() == total; });
    }
};

TEST_F(ProgressWrapperTest, ContinuesFromTheObjectsFiguresAndCopiesThemOnEachTick) {
    auto progress = std::make_shared<Progress>(10);
    progress->setCompletedUnitCount(5);
    auto wrapper = ProgressWrapper::make(progress);
    wrapper->incrementCompletedUnitCount();
    EXPECT_EQ(progress->completedUnitCount(), 5) << "nothing is copied before the first tick";
    clock->advance(0.1);
    EXPECT_TRUE(shows(*progress, 6, 10));
    wrapper->incrementTotalUnitCount();
    clock->advance(0.1);
    EXPECT_TRUE(shows(*progress, 6, 11));
    wrapper->completed();
}

TEST_F(ProgressWrapperTest, CompletedLeavesTheExactCountsAfterConcurrentIncrements) {
    auto progress = std::make_shared<Progress>();
    auto wrapper = ProgressWrapper::make(progress);
    std::vector<std::thread> counters;
    for (int thread = 0; thread < 4; ++thread) {
        counters.emplace_back([&] {
            for (int i = 0; i < 250'000; ++i) {
                wrapper->incrementTotalUnitCount();
                wrapper->incrementCompletedUnitCount();
                if (i % 50'000 == 0) {
                    clock->advance(0.1);
                }
            }
        });
    }
    for (auto& counter : counters) {
        counter.join();
    }
    wrapper->completed();
    EXPECT_EQ(progress->totalUnitCount(), 1'000'000);
    EXPECT_EQ(progress->completedUnitCount(), 1'000'000);
}

TEST_F(ProgressWrapperTest, CancelReachesTheObjectWhileTheTimerGoesOn) {
    auto progress = std::make_shared<Progress>();
    auto wrapper = ProgressWrapper::make(progress);
    EXPECT_TRUE(wrapper->isCancellable());
    wrapper->cancel();
    EXPECT_TRUE(wrapper->isCancelled());
    EXPECT_TRUE(progress->isCancelled());
    wrapper->incrementCompletedUnitCount();
    clock->advance(0.1);
    EXPECT_TRUE(shows(*progress, 1, 0));
    wrapper->completed();
}

TEST_F(ProgressWrapperTest, IsReleasedOnceCompletedStopsItsTimer) {
    auto progress = std::make_shared<Progress>();
    auto wrapper = ProgressWrapper::make(progress);
    std::weak_ptr<ProgressWrapper> watched = wrapper;
    wrapper->incrementTotalUnitCount();
    wrapper.reset();
    EXPECT_FALSE(watched.expired()) << "the running timer keeps the wrapper";
    watched.lock()->completed();
    EXPECT_TRUE(watched.expired());
    EXPECT_EQ(progress->totalUnitCount(), 1);
}

TEST_F(ProgressWrapperTest, DescribesItselfWithAddressAndCounts) {
    auto wrapper = ProgressWrapper::make(std::make_shared<Progress>(3));
    wrapper->incrementCompletedUnitCount();
    std::string text = wrapper->debugDescription();
    EXPECT_TRUE(
        std::regex_match(text, std::regex("<ProgressWrapper: 0x[0-9a-f]{16}> - completedUnitCount:1 / "
                                          "totalUnitCount:3")))
        << text;
    wrapper->completed();
}

TEST(ProgressObjectHandler, WritesThroughAndCompletedChangesNothing) {
    auto progress = std::make_shared<Progress>(2);
    ProgressObjectHandler handler(progress);
    handler.incrementTotalUnitCount();
    handler.incrementCompletedUnitCount();
    EXPECT_EQ(progress->totalUnitCount(), 3);
    EXPECT_EQ(progress->completedUnitCount(), 1);
    handler.completed();
    EXPECT_EQ(progress->totalUnitCount(), 3);
    EXPECT_EQ(progress->completedUnitCount(), 1);
    EXPECT_FALSE(handler.isCancelled());
    progress->cancel();
    EXPECT_TRUE(handler.isCancelled());
}

} // namespace velmor
