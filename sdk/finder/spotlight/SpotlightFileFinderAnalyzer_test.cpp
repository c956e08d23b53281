#include "sdk/finder/spotlight/SpotlightFileFinderAnalyzer.hpp"

#include "platform/concurrency/CancellationError.hpp"
#include "platform/concurrency/Task.hpp"
#include "platform/dispatch/ManualTimerService.hpp"
#include "platform/fs/Volume.hpp"
#include "platform/metadata/MetadataAttributes.hpp"
#include "platform/metadata/MetadataIndex.hpp"
#include "platform/testing/TemporaryDirectory.hpp"
#include "sdk/finder/RecordingLogger.hpp"
#include "sdk/finder/criteria/AndMatchingCriterion.hpp"
#include "sdk/finder/criteria/FilePathCriterion.hpp"
#include "sdk/finder/criteria/StatCriterionFactory.hpp"
#include "sdk/finder/spotlight/SpotlightEngine.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <latch>
#include <set>
#include <sys/stat.h>
#include <thread>

namespace sweepkit {
namespace {

namespace md = velmor::metadata;
using velmor::URL;
using velmor::testing::TemporaryDirectory;
using Case = SpotlightFileFinderAnalyzerError::Case;

// An index that knows every file of a fixture tree by path, name and length, as an indexer would
// have recorded them; installed for one test.
class FixtureIndex {
public:
    explicit FixtureIndex(const std::string& root) {
        for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
            if (!entry.is_regular_file()) {
                continue;
            }
            const std::string path = entry.path().string();
            struct ::stat record {};
            ::lstat(path.c_str(), &record);
            index->add(md::MetadataItem(URL::fileURL(path),
                                        {{md::NSMetadataItemPathKey, path},
                                         {md::NSMetadataItemFSNameKey, entry.path().filename().string()},
                                         {md::NSMetadataItemFSSizeKey, std::int64_t{record.st_size}}}));
        }
        previous_ = md::MetadataIndex::install(index);
    }
    ~FixtureIndex() { md::MetadataIndex::install(previous_); }

    std::shared_ptr<md::InMemoryMetadataIndex> index = std::make_shared<md::InMemoryMetadataIndex>();

private:
    std::shared_ptr<const md::MetadataIndex> previous_;
};

std::int64_t allocated(const std::string& path) {
    struct ::stat record {};
    EXPECT_EQ(::lstat(path.c_str(), &record), 0);
    return std::int64_t{record.st_blocks} * 512;
}

std::int64_t roundedAllocated(const std::string& path) {
    struct ::stat record {};
    EXPECT_EQ(::lstat(path.c_str(), &record), 0);
    const std::int64_t size = std::int64_t{record.st_blocks} * 512;
    return (size + record.st_blksize - 1) / record.st_blksize * record.st_blksize;
}

std::optional<Case> failure(const std::function<void()>& search) {
    try {
        search();
    } catch (const SpotlightFileFinderAnalyzerError& error) {
        return error.errorCase();
    }
    return std::nullopt;
}

AnalysisResult analyze(const SpotlightEngine& engine, const std::vector<std::string>& roots,
                       const FileMatchingCriterion& criterion,
                       std::shared_ptr<const SweepKitLogger> logger = nullptr) {
    std::vector<URL> urls;
    for (const auto& root : roots) {
        urls.push_back(URL::fileURL(root));
    }
    return SpotlightFileFinderAnalyzer(std::move(logger), &engine)
        .analyze(
            urls, criterion,
            [](const FileSystemItem&) { ADD_FAILURE() << "the index engine reports no item"; },
            [] { ADD_FAILURE() << "the index engine judges no entry"; });
}

TEST(SpotlightFileFinderAnalyzer, WithoutAnIndexNoFolderIsIndexed) {
    TemporaryDirectory dir;
    const std::string file = dir.writeFile("f", "x");
    const SpotlightEngine engine;
    auto everything = StatCriterionFactory::sizeGreaterThan(-1);
    EXPECT_EQ(failure([&] { analyze(engine, {dir.path()}, *everything); }), Case::notIndexed);
    EXPECT_EQ(failure([&] { analyze(engine, {file}, *everything); }), Case::notIndexed);
    EXPECT_EQ(failure([&] { analyze(engine, {dir / "missing"}, *everything); }), Case::notIndexed);

    auto empty = analyze(engine, {}, *everything);
    EXPECT_TRUE(empty.nodes.empty() && empty.errors.empty());
    EXPECT_FALSE(empty.isLastResult);
    EXPECT_FALSE(empty.cancelled);
}

TEST(SpotlightFileFinderAnalyzer, AVolumeIsAskedOfTheIndexStatusTool) {
    if (!velmor::Volume::isVolume(URL::fileURL("/"))) {
        GTEST_SKIP() << "/ is no mount point of this process";
    }
    TemporaryDirectory dir;
    auto tool = [&](const std::string& name, const std::string& answer) {
        const std::string path = dir.writeFile(name, "#!/bin/sh\necho \"$2:\"\necho '" + answer + "'\n");
        EXPECT_EQ(::chmod(path.c_str(), 0755), 0);
        return IndexStatusTool{path};
    };
    auto everything = StatCriterionFactory::sizeGreaterThan(-1);
    const SpotlightEngine disabled(30.0, tool("disabled", "\tIndexing disabled."));
    const SpotlightEngine failing(30.0, tool("failing", "Error: unknown volume"));
    const SpotlightEngine enabled(30.0, tool("enabled", "\tIndexing enabled."));
    const SpotlightEngine missing(30.0, IndexStatusTool{dir / "missing"});

    EXPECT_EQ(failure([&] { analyze(disabled, {"/"}, *everything); }), Case::notIndexed);
    EXPECT_EQ(failure([&] { analyze(failing, {"/"}, *everything); }), Case::notIndexed);
    EXPECT_TRUE(enabled.isIndexingEnabled(URL::fileURL("/")));
    try {
        analyze(missing, {"/"}, *everything);
        FAIL() << "ran a missing tool";
    } catch (const velmor::ErrorException& exception) {
        EXPECT_EQ(exception.error().code(), 4) << "the launch error, unchanged";
    }
}

TEST(SpotlightFileFinderAnalyzer, ArrangesWhatTheIndexFoundUnderTheRoots) {
    TemporaryDirectory dir;
    const std::string deep = dir.writeFile("r/a/b/f.log", std::string(6000, 'x'));
    const std::string near = dir.writeFile("r/a/g.log", "x");
    dir.writeFile("r/small.txt", "x");
    dir.writeFile("quiet/empty.txt", ""); // indexed, so the folder passes the probe, but no match
    FixtureIndex index(dir.path());
    auto logger = std::make_shared<testing::RecordingLogger>();
    const SpotlightEngine engine;

    auto criterion = StatCriterionFactory::sizeGreaterThan(0);
    auto result = analyze(engine, {dir / "quiet", dir / "r"}, *criterion, logger);
    EXPECT_FALSE(result.isLastResult);
    EXPECT_FALSE(result.cancelled);
    EXPECT_TRUE(result.errors.empty());
    ASSERT_EQ(result.nodes.size(), 1u) << "the quiet folder drops out";
    const auto& r = *result.nodes[0].asFolder();
    EXPECT_EQ(r.url, URL::fileURL(dir / "r"));
    EXPECT_EQ(r.contentSize,
              roundedAllocated(deep) + roundedAllocated(near) + roundedAllocated(dir / "r/small.txt"));
    std::set<std::string> items;
    for (const auto& item : result.nodes[0].allItems()) {
        items.insert(item.url.path());
        EXPECT_EQ(item.metadata.st_size, allocated(item.url.path())) << "the allocated size";
    }
    EXPECT_EQ(items, (std::set<std::string>{deep, near, dir / "r/small.txt"}));

    const auto lines = logger->lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0],
              "debug: Starting spotlight query with predicate: Optional(kMDItemFSSize > 0), scope: [" +
                  URL::fileURL(dir / "quiet").absoluteString() + ", " +
                  URL::fileURL(dir / "r").absoluteString() + "]");
}

TEST(SpotlightFileFinderAnalyzer, ACriterionWithoutAnIndexFormFailsWithItsOwnError) {
    TemporaryDirectory dir;
    dir.writeFile("r/f", "x");
    FixtureIndex index(dir.path());
    const SpotlightEngine engine;
    AndMatchingCriterion criterion(
        {StatCriterionFactory::sizeGreaterThan(0), std::make_shared<const FilePathCriterion>("/Caches/")});
    EXPECT_EQ(failure([&] { analyze(engine, {dir / "r"}, criterion); }), Case::unsupportedCriterion);
}

// Runs the search on a task while this thread moves the timer clock on, so the time limit passes
// without waiting for it.
std::optional<Case> failureOnManualClock(const SpotlightEngine& engine, const std::string& root) {
    auto clock = std::make_shared<velmor::ManualTimerService>();
    velmor::ScopedTimerService scope(clock);
    auto everything = StatCriterionFactory::sizeGreaterThan(-1);
    auto search = velmor::Task<std::optional<Case>>::start(
        [&] { return failure([&] { analyze(engine, {root}, *everything); }); });
    while (!search.isFinished()) {
        clock->advance(SpotlightEngine::pollInterval);
    }
    return search.value();
}

TEST(SpotlightFileFinderAnalyzer, AnIndexStillGatheringAtTheTimeLimitIsGivenUp) {
    TemporaryDirectory dir;
    dir.writeFile("full/f", "x");
    dir.makeDirectory("empty");
    FixtureIndex index(dir.path());
    index.index->holdGathering(true);
    const SpotlightEngine engine; // the 30-second limit, on a clock the test moves

    EXPECT_EQ(failureOnManualClock(engine, dir / "full"), Case::timeoutWaitingForResults)
        << "the probe finds a file at once; the query never ends gathering";
    EXPECT_EQ(failureOnManualClock(engine, dir / "empty"), Case::notIndexed) << "the probe gives up";

    const SpotlightEngine impatient(0.2); // a shortened limit on the real clock
    auto everything = StatCriterionFactory::sizeGreaterThan(-1);
    EXPECT_EQ(failure([&] { analyze(impatient, {dir / "full"}, *everything); }),
              Case::timeoutWaitingForResults);
}

TEST(SpotlightFileFinderAnalyzer, TheSharedEngineWaitsThirtySeconds) {
    EXPECT_EQ(SpotlightEngine::shared().requestTimeout, 30.0);
}

TEST(SpotlightFileFinderAnalyzer, AGatheringQueryIsLookedAtEveryTenthOfASecond) {
    TemporaryDirectory dir;
    dir.writeFile("r/f", "x");
    FixtureIndex index(dir.path());
    index.index->holdGathering(true);
    auto clock = std::make_shared<velmor::ManualTimerService>();
    velmor::ScopedTimerService scope(clock);
    const SpotlightEngine engine;
    auto everything = StatCriterionFactory::sizeGreaterThan(-1);

    auto search =
        velmor::Task<AnalysisResult>::start([&] { return analyze(engine, {dir / "r"}, *everything); });
    ASSERT_TRUE(clock->waitForPending(1)) << "the query never waits";

    // A poll before 0.1 s finds the query still gathering and waits again, now past 0.1 s.
    clock->advance(0.09);
    ASSERT_TRUE(clock->waitForPending(1));
    index.index->holdGathering(false);
    // A poll at 0.1 s finds it done.
    clock->advance(0.01);
    for (int check = 0; check < 1000 && !search.isFinished(); ++check) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_TRUE(search.isFinished()) << "no poll at 0.1 s";
    EXPECT_EQ(search.value().flattenedItems().size(), 1u);
}

TEST(SpotlightFileFinderAnalyzer, ACancelledSearchReturnsWhatWasGatheredAndSaysSo) {
    TemporaryDirectory dir;
    const std::string file = dir.writeFile("r/f", "x");
    FixtureIndex index(dir.path());
    index.index->holdGathering(true);
    const SpotlightEngine engine;
    auto everything = StatCriterionFactory::sizeGreaterThan(-1);

    std::latch cancelled(1);
    auto search = velmor::Task<AnalysisResult>::start([&] {
        cancelled.wait();
        return analyze(engine, {dir / "r"}, *everything);
    });
    search.cancel();
    cancelled.count_down();
    auto result = search.value();
    EXPECT_TRUE(result.cancelled);
    ASSERT_EQ(result.flattenedItems().size(), 1u);
    EXPECT_EQ(result.flattenedItems()[0].url.path(), file);
}

TEST(SpotlightFileFinderAnalyzer, CancellingAWaitingSearchEndsIt) {
    TemporaryDirectory dir;
    dir.writeFile("r/f", "x");
    FixtureIndex index(dir.path());
    index.index->holdGathering(true);
    auto clock = std::make_shared<velmor::ManualTimerService>();
    velmor::ScopedTimerService scope(clock); // time stands still: only the cancellation ends the wait
    const SpotlightEngine engine;
    auto everything = StatCriterionFactory::sizeGreaterThan(-1);

    auto search = velmor::Task<bool>::start([&] {
        try {
            return analyze(engine, {dir / "r"}, *everything).cancelled;
        } catch (const velmor::CancellationError&) {
            return true; // cancelled while asleep
        }
    });
    search.cancel();
    EXPECT_TRUE(search.value());
}

// The logger lets the test know when the first search holds the actor on its way to its wait.
class StartLatch : public testing::RecordingLogger {
public:
    void debug(velmor::LogMessage message) const override {
        RecordingLogger::debug(message);
        started.count_down();
    }
    mutable std::latch started{1};
};

TEST(SpotlightFileFinderAnalyzer, TheEngineIsFreeWhileAQueryWaits) {
    TemporaryDirectory dir;
    dir.writeFile("r/f", "x");
    FixtureIndex index(dir.path());
    index.index->holdGathering(true);
    const SpotlightEngine engine;
    auto logger = std::make_shared<StartLatch>();
    auto everything = StatCriterionFactory::sizeGreaterThan(-1);

    auto waiting = velmor::Task<AnalysisResult>::start(
        [&] { return analyze(engine, {dir / "r"}, *everything, logger); });
    logger->started.wait();
    // The first query gathers until the hold is lifted: only an actor that it leaves free between
    // two polls lets the probe through meanwhile.
    EXPECT_TRUE(engine.probeQuery(URL::fileURL(dir / "r")));
    index.index->holdGathering(false);
    EXPECT_EQ(waiting.value().flattenedItems().size(), 1u);
}

} // namespace
} // namespace sweepkit
