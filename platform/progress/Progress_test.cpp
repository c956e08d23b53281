#include "platform/progress/Progress.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace velmor {

TEST(Progress, KeepsItsCountsAndStartsCancellableAndNotCancelled) {
    Progress progress(10);
    EXPECT_EQ(progress.totalUnitCount(), 10);
    EXPECT_EQ(progress.completedUnitCount(), 0);
    progress.setCompletedUnitCount(4);
    progress.setTotalUnitCount(12);
    EXPECT_EQ(progress.completedUnitCount(), 4);
    EXPECT_EQ(progress.totalUnitCount(), 12);
    EXPECT_TRUE(progress.isCancellable());
    EXPECT_FALSE(progress.isCancelled());
    progress.setCancellable(false);
    progress.cancel();
    EXPECT_TRUE(progress.isCancelled()) << "cancellable only tells an interface whether to offer it";
}

TEST(Progress, TheCancellationHandlerRunsOnceFromWhicheverThreadCancels) {
    Progress progress;
    std::atomic<int> runs{0};
    progress.setCancellationHandler([&] { ++runs; });
    std::vector<std::thread> cancellers;
    for (int i = 0; i < 8; ++i) {
        cancellers.emplace_back([&] { progress.cancel(); });
    }
    for (auto& canceller : cancellers) {
        canceller.join();
    }
    EXPECT_EQ(runs, 1);
    EXPECT_TRUE(progress.isCancelled());
}

TEST(Progress, AHandlerSetOnACancelledProgressRunsAtOnce) {
    Progress progress;
    progress.cancel();
    int runs = 0;
    progress.setCancellationHandler([&] { ++runs; });
    EXPECT_EQ(runs, 1);
    progress.cancel();
    EXPECT_EQ(runs, 1);
}

TEST(Progress, AReplacedHandlerNeverRuns) {
    Progress progress;
    int first = 0;
    int second = 0;
    progress.setCancellationHandler([&] { ++first; });
    progress.setCancellationHandler([&] { ++second; });
    progress.cancel();
    EXPECT_EQ(first, 0);
    EXPECT_EQ(second, 1);
}

} // namespace velmor
