#include "platform/concurrency/MainActor.hpp"

#include "platform/concurrency/Actor.hpp"
#include "platform/concurrency/AsyncStream.hpp"
#include "platform/concurrency/RunLoop.hpp"
#include "platform/dispatch/DispatchGroup.hpp"
#include "platform/dispatch/SerialQueue.hpp"
#include "platform/log/CaptureSink.hpp"
#include "platform/testing/Watchdog.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <latch>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

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

TEST(MainActor, AfterTheExecutorIsRemovedWorkersGetACancellation) {
    { ScopedMainRunLoop main; }
    auto worker = Task<int>::start([] {
        EXPECT_THROW(MainActor::post([] {}), CancellationError);
        return MainActor::run([] { return 1; });
    });
    EXPECT_THROW(worker.value(), CancellationError);

    // An executor that shuts down drops what is queued: the waiting caller is let go.
    struct Dropping : MainExecutor {
        void post(std::function<void()>) override {}
    };
    MainActor::install(std::make_shared<Dropping>());
    auto dropped = Task<>::start([] { MainActor::run([] {}); });
    {
        testing::Watchdog watchdog("a run whose job the executor dropped");
        while (!dropped.isFinished()) {
            std::this_thread::yield();
        }
    }
    MainActor::uninstall();
    EXPECT_THROW(dropped.value(), CancellationError);
}

TEST(MainActor, ACancelledCallerStopsWaitingForAJobNotYetTakenUp) {
    ScopedMainRunLoop main;
    std::atomic<bool> ran{false};
    auto worker = Task<>::start([&] { MainActor::runCancellable([&] { ran = true; }); });
    while (main.loop().pending() == 0) {
        std::this_thread::yield();
    }
    worker.cancel();
    {
        testing::Watchdog watchdog("a cancelled run waiting for the main thread");
        while (!worker.isFinished()) {
            std::this_thread::yield();
        }
    }
    EXPECT_THROW(worker.value(), CancellationError);
    main.loop().drain();
    EXPECT_FALSE(ran) << "the job ran after its caller gave up";
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

// Blocks the calling thread for ever, holding what it was given.
void blockForever() {
    std::latch never(1);
    never.wait();
}

TEST(MainActorDeathTest, EveryBlockingWaitOnTheMainThreadIsNamed) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    ScopedMainRunLoop main;
    struct Case {
        const char* wait;
        std::function<void()> blockMain;
    };
    std::vector<Case> cases{
        {"Actor::run",
         [] {
             Actor actor("test.held");
             std::latch held(1);
             std::thread([&] {
                 actor.run([&] {
                     held.count_down();
                     blockForever();
                 });
             }).detach();
             held.wait();
             actor.run([] {});
         }},
        {"AsyncStream::next", [] { AsyncStream<int>::makeStream().first.next(); }},
        {"Task::sleep", [] { Task<>::sleep(1e6); }},
        {"SerialQueue::sync",
         [] {
             SerialQueue queue("com.velmor.test.busy");
             queue.async(blockForever);
             queue.sync([] {});
         }},
        {"DispatchGroup::wait",
         [] {
             DispatchGroup group;
             group.enter();
             group.wait();
         }},
    };
    for (const auto& c : cases) {
        EXPECT_DEATH(c.blockMain(), std::string(c.wait) + " would block the main thread") << c.wait;
    }
}

TEST(MainActor, TheReleaseFormLogsABlockingWaitOncePerName) {
    // Names of this run's own: what was logged once stays logged for the life of the process.
    static int run = 0;
    std::string first = "Test::firstWait" + std::to_string(++run);
    std::string second = "Test::secondWait" + std::to_string(run);
    auto capture = std::make_shared<log::CaptureSink>();
    auto previous = log::LogSink::install(capture);
    detail::reportBlockingMainWait(first.c_str());
    detail::reportBlockingMainWait(first.c_str());
    detail::reportBlockingMainWait(second.c_str());
    log::LogSink::install(previous);
    auto entries = capture->entries();
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].type, log::LogType::error);
    EXPECT_NE(entries[0].message.find("The main thread blocks in " + first), std::string::npos);
    EXPECT_NE(entries[1].message.find(second), std::string::npos);
}

} // namespace velmor
