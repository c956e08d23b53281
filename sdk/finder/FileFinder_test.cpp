#include "sdk/finder/FileFinder.hpp"

#include "platform/testing/TemporaryDirectory.hpp"
#include "sdk/finder/RecordingLogger.hpp"
#include "sdk/finder/SpotlightFileFinderAnalyzerError.hpp"
#include "sdk/finder/criteria/FileNameCriterion.hpp"
#include "sdk/finder/tree/TreeFileFinderAnalyzer.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <latch>

namespace sweepkit {
namespace {

using velmor::URL;
using velmor::testing::TemporaryDirectory;
using Engine = FileFinder::Engine;

AnyFileMatchingCriterion logs() {
    return std::make_shared<const FileNameCriterion>(FileNameCriterion::initWithWildcard("*.log"));
}

// No metadata index is installed here, as on any Linux system: the index engine finds no folder
// indexed and fails at once.
class FileFinderTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir.writeFile("r/a/hit.log", "x");
        dir.writeFile("r/a/miss.txt", "x");
        dir.writeFile("r/top.log", "x");
        roots = {URL::fileURL(dir / "r")};
    }

    FileFinder finder(std::vector<Engine> engines) const {
        return FileFinder{criterion, std::move(engines), logger};
    }

    TemporaryDirectory dir;
    std::vector<URL> roots;
    AnyFileMatchingCriterion criterion = logs();
    std::shared_ptr<testing::RecordingLogger> logger = std::make_shared<testing::RecordingLogger>();
};

TEST_F(FileFinderTest, AFailingEngineGivesWayToTheNext) {
    std::vector<std::string> found;
    int processed = 0;
    auto result = finder({Engine::spotlight, Engine::fileSystemTraversal})
                      .find(
                          roots, [&](const FileSystemItem& item) { found.push_back(item.url.path()); },
                          [&] { ++processed; });

    auto walked = TreeFileFinderAnalyzer(nullptr).analyze(
        roots, *criterion, [](const FileSystemItem&) {}, [] {});
    EXPECT_EQ(result.nodes, walked.nodes);
    EXPECT_TRUE(result.isLastResult) << "the tree engine's flags, unchanged";
    EXPECT_EQ(found.size(), 2u);
    EXPECT_EQ(processed, 3);
    EXPECT_EQ(
        logger->lines(),
        (std::vector<std::string>{
            "debug: Skipped spotlight because it failed to handle request: notIndexed",
            "debug: Starting filesystem traversal with criteria: " + criterion->description(),
            "debug: Result provided by fileSystemTraversal for [" + URL::fileURL(dir / "r").absoluteString() +
                "] with criterion " + criterion->description(),
        }));
}

TEST_F(FileFinderTest, TheLastEnginesErrorFailsTheSearch) {
    EXPECT_NO_THROW(finder({Engine::fileSystemTraversal, Engine::spotlight}).find(roots, {}, {}))
        << "the first engine that answers ends the search; callbacks may be left empty";
    try {
        finder({Engine::spotlight}).find(roots, {}, {});
        FAIL() << "found without an index";
    } catch (const SpotlightFileFinderAnalyzerError& error) {
        EXPECT_EQ(error.errorCase(), SpotlightFileFinderAnalyzerError::Case::notIndexed);
    }
    try {
        finder({}).find(roots, {}, {});
        FAIL() << "found without an engine";
    } catch (const velmor::TypedError<FileFinderError>& error) {
        EXPECT_EQ(error.value(), FileFinder::Error::noEngineSpecified);
        EXPECT_EQ(error.toError().domain(), "SweepKit.FileFinder.Error");
        EXPECT_EQ(error.toError().code(), 0);
    }
}

// The completion's result, waited for on a latch.
struct Completed {
    std::latch done{1};
    AnalysisResult result;
    FileFinder::Completion completion() {
        return [this](AnalysisResult r) {
            result = std::move(r);
            done.count_down();
        };
    }
};

TEST_F(FileFinderTest, StartSearchCountsJudgedEntriesAndCompletesWithTheResult) {
    Completed completed;
    auto progress = finder({Engine::spotlight, Engine::fileSystemTraversal})
                        .startSearch(
                            roots, [](const FileSystemItem&) {}, completed.completion());
    completed.done.wait();
    EXPECT_EQ(completed.result.flattenedItems().size(), 2u);
    EXPECT_TRUE(completed.result.isLastResult);
    EXPECT_EQ(progress->totalUnitCount(), 0);
    EXPECT_EQ(progress->completedUnitCount(), 3);
}

TEST_F(FileFinderTest, StartSearchWhoseOnlyEngineFailsCompletesWithTheErrorAlone) {
    Completed completed;
    finder({Engine::spotlight})
        .startSearch(
            roots, [](const FileSystemItem&) {}, completed.completion());
    completed.done.wait();
    EXPECT_TRUE(completed.result.nodes.empty());
    ASSERT_EQ(completed.result.errors.size(), 1u);
    EXPECT_EQ(completed.result.errors[0].path, "");
    EXPECT_EQ(completed.result.errors[0].error,
              SpotlightFileFinderAnalyzerError(SpotlightFileFinderAnalyzerError::Case::notIndexed).toError());
    EXPECT_FALSE(completed.result.isLastResult);
    EXPECT_FALSE(completed.result.cancelled);
}

TEST_F(FileFinderTest, CancellingTheProgressCancelsTheSearch) {
    dir.writeFile("second/more.log", "x");
    roots.push_back(URL::fileURL(dir / "second"));
    Completed completed;
    std::latch started(1);
    std::shared_ptr<velmor::Progress> progress;
    progress = finder({Engine::fileSystemTraversal})
                   .startSearch(
                       roots,
                       [&](const FileSystemItem&) {
                           started.wait(); // until `progress` is set
                           progress->cancel();
                       },
                       completed.completion());
    started.count_down();
    completed.done.wait();
    EXPECT_TRUE(progress->isCancelled());
    EXPECT_TRUE(completed.result.cancelled);
    EXPECT_TRUE(completed.result.nodes.empty()) << "stopped inside the first root";
}

} // namespace
} // namespace sweepkit
