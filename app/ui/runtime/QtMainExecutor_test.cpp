#include "app/ui/runtime/QtMainExecutor.hpp"

#include <QTest>

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <thread>
#include <vector>

namespace marrowdale {
namespace {

using velmor::MainActor;

// The test main installed a `QtMainExecutor` on this thread; these tests pump Qt's event loop.
TEST(QtMainExecutor, RunsWorkersJobsOnTheMainThreadInTheOrderEachPosted) {
    ASSERT_TRUE(MainActor::isMainThread());
    constexpr int workers = 4;
    constexpr int jobsEach = 200;
    // Touched on the main thread only: the executor's queue is what orders the workers' writes.
    std::vector<std::vector<int>> seen(workers);
    std::vector<int> offMain;
    std::atomic<int> finished{0};
    std::vector<std::thread> threads;
    for (int worker = 0; worker < workers; ++worker) {
        threads.emplace_back([&, worker] {
            for (int job = 0; job < jobsEach; ++job) {
                // Each job carries memory the worker allocated, as the model's results do.
                auto payload = std::make_shared<int>(job);
                MainActor::post([&, worker, payload] {
                    if (!MainActor::isMainThread()) {
                        offMain.push_back(*payload);
                    }
                    seen[worker].push_back(*payload);
                });
            }
            finished.fetch_add(1);
        });
    }
    const bool done = QTest::qWaitFor(
        [&] {
            if (finished.load() < workers) {
                return false;
            }
            for (const auto& one : seen) {
                if (one.size() < static_cast<std::size_t>(jobsEach)) {
                    return false;
                }
            }
            return true;
        },
        30'000);
    for (auto& thread : threads) {
        thread.join();
    }
    ASSERT_TRUE(done);
    EXPECT_TRUE(offMain.empty());
    for (const auto& one : seen) {
        std::vector<int> expected(jobsEach);
        for (int job = 0; job < jobsEach; ++job) {
            expected[static_cast<std::size_t>(job)] = job;
        }
        EXPECT_EQ(one, expected);
    }
}

TEST(QtMainExecutor, AWorkerWaitsForItsAnswerAndAFailingJobStopsNoOther) {
    std::atomic<bool> answered{false};
    int answer = 0;
    std::thread worker([&] {
        answer = MainActor::run([] { return 6 * 7; });
        answered = true;
    });
    bool laterJobRan = false;
    MainActor::post([] { throw std::runtime_error("a posted job that fails"); });
    MainActor::post([&] { laterJobRan = true; });
    EXPECT_TRUE(QTest::qWaitFor([&] { return answered.load() && laterJobRan; }, 30'000));
    worker.join();
    EXPECT_EQ(answer, 42);
}

} // namespace
} // namespace marrowdale
