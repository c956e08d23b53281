// Where a tree search runs: a task's search is handed to the engine's thread, and every case in
// which that would deadlock or lose the caller's context stays on the calling thread.
#include "sdk/finder/tree/TreeFileFinderEngine.hpp"

#include "platform/concurrency/Actor.hpp"
#include "platform/concurrency/MainActor.hpp"
#include "platform/concurrency/RunLoop.hpp"
#include "platform/concurrency/Task.hpp"
#include "platform/testing/ChildProcess.hpp"
#include "platform/testing/TemporaryDirectory.hpp"
#include "platform/testing/Watchdog.hpp"
#include "sdk/finder/criteria/FileNameCriterion.hpp"
#include "sdk/finder/tree/TreeFileFinderAnalyzer.hpp"

#include <gtest/gtest.h>

#include <csignal>
#include <stdexcept>
#include <string>
#include <unistd.h>
#include <vector>

namespace sweepkit {
namespace {

using velmor::URL;
using velmor::testing::TemporaryDirectory;
using velmor::testing::Watchdog;

const FileNameCriterion logs = FileNameCriterion::initWithWildcard("*.log");

// The paths of the matching items below `root`, in walk order.
std::vector<std::string> foundBelow(const std::string& root,
                                    const FileFinderAnalyzer::FoundItemCallback& also = {}) {
    std::vector<std::string> found;
    TreeFileFinderAnalyzer(nullptr).analyze(
        {URL::fileURL(root)}, logs,
        [&](const FileSystemItem& item) {
            found.push_back(item.url.path());
            if (also) {
                also(item);
            }
        },
        [] {});
    return found;
}

class TreeFileFinderEngineTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir.writeFile("outer/a.log", "x");
        dir.writeFile("inner/b.log", "x");
    }
    TemporaryDirectory dir;
};

TEST_F(TreeFileFinderEngineTest, ASearchStartedInsideASearchCallbackRunsToItsEnd) {
    const Watchdog watchdog("a search inside a search");
    std::vector<std::string> inner;
    auto outer = velmor::Task<std::vector<std::string>>::start([&] {
        return foundBelow(dir / "outer", [&](const FileSystemItem&) { inner = foundBelow(dir / "inner"); });
    });
    EXPECT_EQ(outer.value(), std::vector<std::string>{dir / "outer/a.log"});
    EXPECT_EQ(inner, std::vector<std::string>{dir / "inner/b.log"});
}

TEST_F(TreeFileFinderEngineTest, ACallbackMayEnterAnActorTheCallerHolds) {
    const Watchdog watchdog("a callback entering the caller's actor");
    const velmor::Actor actor;
    int counted = 0;
    auto task = velmor::Task<std::vector<std::string>>::start([&] {
        return actor.run([&] {
            return foundBelow(dir / "outer", [&](const FileSystemItem&) { actor.run([&] { ++counted; }); });
        });
    });
    EXPECT_EQ(task.value().size(), 1u);
    EXPECT_EQ(counted, 1);
}

TEST_F(TreeFileFinderEngineTest, ACallbackOfASearchOnTheMainThreadMayRunOnTheMainActor) {
    const Watchdog watchdog("a callback using the main actor");
    velmor::ScopedMainRunLoop main;
    int counted = 0;
    const auto found =
        foundBelow(dir / "outer", [&](const FileSystemItem&) { velmor::MainActor::run([&] { ++counted; }); });
    EXPECT_EQ(found.size(), 1u);
    EXPECT_EQ(counted, 1);
}

TEST_F(TreeFileFinderEngineTest, WhatACallbackThrowsReachesTheCallerAndTheEngineGoesOn) {
    const Watchdog watchdog("a search after a failed one");
    auto failing = velmor::Task<std::vector<std::string>>::start([&] {
        return foundBelow(dir / "outer", [](const FileSystemItem&) { throw std::runtime_error("callback failed"); });
    });
    EXPECT_THROW(
        {
            try {
                failing.value();
            } catch (const std::runtime_error& error) {
                EXPECT_STREQ(error.what(), "callback failed");
                throw;
            }
        },
        std::runtime_error);
    auto next = velmor::Task<std::vector<std::string>>::start([&] { return foundBelow(dir / "inner"); });
    EXPECT_EQ(next.value(), std::vector<std::string>{dir / "inner/b.log"});
}

TEST_F(TreeFileFinderEngineTest, SearchesOfTasksSideBySideEachGetTheirWholeResult) {
    const Watchdog watchdog("searches side by side");
    for (int i = 0; i < 20; ++i) {
        dir.writeFile("many/f" + std::to_string(i % 4) + "/" + std::to_string(i) + ".log", "x");
    }
    std::vector<velmor::Task<std::vector<std::string>>> tasks;
    for (int i = 0; i < 6; ++i) {
        tasks.push_back(velmor::Task<std::vector<std::string>>::start([&, i] {
            return foundBelow(i % 2 == 0 ? dir / "many" : dir / "outer");
        }));
    }
    for (std::size_t i = 0; i < tasks.size(); ++i) {
        EXPECT_EQ(tasks[i].value().size(), i % 2 == 0 ? 20u : 1u) << "search " << i;
    }
}

TEST_F(TreeFileFinderEngineTest, ASearchInAForkedChildRunsToItsEnd) {
#if defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "the thread sanitizer refuses to start a thread after a fork of a threaded process";
#endif
    // Outside the main thread and any actor, so both searches are handed to the engine's thread:
    // the parent's is running when the child is forked.
    ASSERT_EQ(foundBelow(dir / "outer"), std::vector<std::string>{dir / "outer/a.log"});
    const int code = velmor::testing::runInChildProcess([&] {
        ::alarm(30); // a child that waits for ever ends by the alarm signal
        return foundBelow(dir / "inner") == std::vector<std::string>{dir / "inner/b.log"} ? 0 : 1;
    });
    EXPECT_EQ(code, 0) << "1: wrong items, " << 128 + SIGALRM << ": the search never ended";
}

} // namespace
} // namespace sweepkit
