#include "platform/concurrency/MainActor.hpp"

#include "platform/concurrency/RunLoop.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <latch>
#include <stdexcept>
#include <thread>

namespace velmor {

TEST(MainActor, RunFromAWorkerRunsOnTheTestsRunLoop) {
    ScopedMainRunLoop main;
    auto testThread = std::this_thread::get_id();
    auto worker = Task<bool>::start([&] {
        EXPECT_FALSE(MainActor::isMainThread());
        return MainActor::run(
            [&] { return MainActor::isMainThread() && std::this_thread::get_id() == testThread; });
    });
    ASSERT_TRUE(main.runUntil([&] { return worker.isFinished(); }));
    EXPECT_TRUE(worker.value());
}

TEST(MainActor, RunOnTheMainThreadIsInlineAndPostIsQueued) {
    ScopedMainRunLoop main;
    EXPECT_TRUE(MainActor::isMainThread());
    EXPECT_EQ(MainActor::run([] { return 3; }), 3);
    int posted = 0;
    MainActor::post([&] { ++posted; });
    EXPECT_EQ(posted, 0);
    main.loop().drain();
    EXPECT_EQ(posted, 1);
}

TEST(MainActor, RunCarriesTheCallersTaskAndItsErrors) {
    ScopedMainRunLoop main;
    std::latch cancelled(1);
    auto worker = Task<bool>::start([&] {
        cancelled.wait();
        bool seenOnMain = MainActor::run([] { return Task<>::isCancelled(); });
        EXPECT_THROW(MainActor::run([]() -> int { throw std::runtime_error("main failed"); }),
                     std::runtime_error);
        return seenOnMain;
    });
    worker.cancel();
    cancelled.count_down();
    ASSERT_TRUE(main.runUntil([&] { return worker.isFinished(); }));
    EXPECT_TRUE(worker.value());
}

struct Recorder {
    explicit Recorder(std::atomic<std::thread::id>& where) : where(where) {}
    ~Recorder() { where = std::this_thread::get_id(); }
    std::atomic<std::thread::id>& where;
};

TEST(MainActor, MadeSharedObjectsGoOnTheMainThread) {
    ScopedMainRunLoop main;
    std::atomic<std::thread::id> destroyedOn{};
    auto object = MainActor::makeShared<Recorder>(destroyedOn);
    std::thread([object = std::move(object)]() mutable { object.reset(); }).join();
    EXPECT_EQ(destroyedOn.load(), std::thread::id());
    ASSERT_TRUE(main.runUntil([&] { return destroyedOn.load() != std::thread::id(); }));
    EXPECT_EQ(destroyedOn.load(), std::this_thread::get_id());
}

TEST(MainActorDeathTest, MisuseIsCaught) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    ScopedMainRunLoop main;
    EXPECT_DEATH(std::thread([] { MainActor::assertIsolated(); }).join(), "main actor isolation broken");
    EXPECT_DEATH(Task<>::start([] { Task<>::sleep(1e6); }).value(), "would block the main thread");
}

} // namespace velmor
