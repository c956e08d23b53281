#include "app/model/cleaner/CategoryCleaner.hpp"

#include "app/model/nodes/Selection.hpp"
#include "foundation/core/log/RecordingLogger.hpp"
#include "platform/concurrency/RunLoop.hpp"
#include "platform/concurrency/Task.hpp"
#include "platform/testing/TemporaryDirectory.hpp"
#include "sdk/finder/records/RoundedSize.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <limits>
#include <stdio.h>
#include <sys/stat.h>
#include <thread>

namespace marrowdale {
namespace {

using sweepkit::FileSystemItem;
using sweepkit::FileSystemNode;
using velmor::URL;

using velmor::testing::exists;

class CategoryCleanerTest : public ::testing::Test {
protected:
    FileSystemItem item(const std::string& relative, const std::string& contents = "data") {
        std::string path =
            std::filesystem::exists(tmp / relative) ? tmp / relative : tmp.writeFile(relative, contents);
        return FileSystemItem{URL::fileURL(path), *velmor::Stat::lstatPath(path), true};
    }
    FileSystemNode file(const std::string& relative, const std::string& contents = "data") {
        return FileSystemNode::item(item(relative, contents));
    }
    FileSystemNode folder(const std::string& relative, std::vector<FileSystemNode> children) {
        std::int64_t size = 0;
        for (const auto& child : children) {
            size += child.asFolder() ? child.asFolder()->contentSize
                                     : sweepkit::roundedSize(child.asItem()->metadata);
        }
        return FileSystemNode::folder(URL::fileURL(tmp.makeDirectory(relative)), size, std::move(children));
    }

    // Runs the clean on a task, as the controller does, while this thread serves as the main thread.
    CategoryResult clean(CategoryResult result, std::unordered_set<std::string> ids) {
        auto task = velmor::Task<CategoryResult>::start([&] {
            CategoryCleaner cleaner(std::move(result), {URL::fileURL(tmp.path())}, store, logger);
            return cleaner.clean(ids);
        });
        EXPECT_TRUE(main.runUntil([&] { return task.isFinished(); }));
        main.loop().drain(); // failures reported by the file cleaner are recorded on the main thread
        return task.value();
    }

    // A file replaced by another one since the scan: same path, new inode.
    void replace(const std::string& relative) {
        std::filesystem::rename(tmp / relative, tmp / (relative + ".moved"));
        tmp.writeFile(relative, "other");
    }

    velmor::ScopedMainRunLoop main;
    velmor::testing::TemporaryDirectory tmp;
    std::shared_ptr<ErrorStore> store = std::make_shared<ErrorStore>();
    std::shared_ptr<const velmor::Logger> logger = std::make_shared<velmor::testing::RecordingLogger>();
};

std::vector<std::string> ids(const CleanableNodes& nodes) {
    std::vector<std::string> result;
    for (const auto& node : nodes) {
        result.push_back(node->id());
    }
    return result;
}

TEST_F(CategoryCleanerTest, AFailedScanComesBackAsItWas) {
    CategoryResult failed = velmor::Error::posix(EIO);
    auto result = clean(failed, {"/anything"});
    ASSERT_TRUE(std::holds_alternative<velmor::Error>(result));
    EXPECT_EQ(std::get<velmor::Error>(result), velmor::Error::posix(EIO));
}

TEST_F(CategoryCleanerTest, NothingSelectedChangesNothing) {
    CleanableNodes nodes = {CleanableNode::node(file("a"))};
    auto result = clean(nodes, {"/elsewhere"});
    EXPECT_EQ(std::get<CleanableNodes>(result), nodes);
    EXPECT_TRUE(exists(tmp / "a"));
}

TEST_F(CategoryCleanerTest, DeletesSelectedItemsAndPrunesThem) {
    CleanableNodes nodes = {CleanableNode::item(item("big-1")), CleanableNode::item(item("big-2"))};
    auto result = clean(nodes, {tmp / "big-1"});
    EXPECT_EQ(ids(std::get<CleanableNodes>(result)), (std::vector<std::string>{tmp / "big-2"}));
    EXPECT_FALSE(exists(tmp / "big-1"));
    EXPECT_TRUE(exists(tmp / "big-2"));
    EXPECT_TRUE(store->errors().empty());
    const auto lines = std::static_pointer_cast<const velmor::testing::RecordingLogger>(logger)->lines();
    EXPECT_NE(std::find(lines.begin(), lines.end(), "debug: Total nodes: 2"), lines.end())
        << ::testing::PrintToString(lines);
}

TEST_F(CategoryCleanerTest, AReplacedFileIsKeptAndItsFailureShownUnderTheSelectedFolder) {
    auto tree = folder("old", {file("old/a"), folder("old/sub", {file("old/sub/b"), file("old/sub/c")})});
    CleanableNodes nodes = {CleanableNode::node(tree)};
    replace("old/sub/c");

    auto result = clean(nodes, {tmp / "old"});
    const auto& left = std::get<CleanableNodes>(result);
    EXPECT_FALSE(exists(tmp / "old/a"));
    EXPECT_FALSE(exists(tmp / "old/sub/b"));
    EXPECT_TRUE(exists(tmp / "old/sub/c")) << "a file the user never saw must not be deleted";
    EXPECT_TRUE(exists(tmp / "old/sub/c.moved"));

    // The folder stays with the one remaining item; sizes are what is left.
    ASSERT_EQ(left.size(), 1u);
    EXPECT_EQ(left[0]->id(), tmp / "old");
    const auto& remainingItems = std::get<FileSystemNode>(left[0]->payload()).allItems();
    ASSERT_EQ(remainingItems.size(), 1u);
    EXPECT_EQ(remainingItems[0].url.path(), tmp / "old/sub/c");
    EXPECT_EQ(left[0]->size(), sweepkit::roundedSize(remainingItems[0].metadata));

    auto error = store->error(*left[0]);
    ASSERT_TRUE(error);
    EXPECT_EQ(error->description(), "The file changed since the scan, so it was not deleted.");
}

TEST_F(CategoryCleanerTest, SizesLeftAfterACleanStopAtTheLargestCount) {
    // Sparse files may claim nearly 2^63 bytes: what is left of their folders must not wrap round.
    constexpr std::int64_t largest = std::numeric_limits<std::int64_t>::max();
    auto huge = [&](const std::string& relative) {
        FileSystemItem scanned = item(relative);
        scanned.metadata.st_size = largest - 100;
        return FileSystemNode::item(scanned);
    };
    auto sub = FileSystemNode::folder(URL::fileURL(tmp.makeDirectory("top/sub")), largest,
                                      {huge("top/sub/a"), huge("top/sub/b"), file("top/sub/gone")});
    auto top = FileSystemNode::folder(URL::fileURL(tmp.path() + "/top"), largest, {huge("top/kept"), sub});
    CleanableNodes nodes = {CleanableNode::node(top)};
    replace("top/sub/a");
    replace("top/sub/b");

    auto result = clean(nodes, {tmp / "top/sub"});
    EXPECT_FALSE(exists(tmp / "top/sub/gone"));
    const auto& left = std::get<CleanableNodes>(result);
    ASSERT_EQ(left.size(), 1u);
    ASSERT_EQ(ids(*left[0]->children()), (std::vector<std::string>{tmp / "top/kept", tmp / "top/sub"}));
    EXPECT_EQ(left[0]->children()->at(1)->size(), largest) << "the two files kept in the cleaned folder";
    EXPECT_EQ(left[0]->size(), largest) << "the folder above it";
}

TEST_F(CategoryCleanerTest, AFileThatOnlyGrewIsStillDeleted) {
    CleanableNodes nodes = {CleanableNode::item(item("log.txt", "short"))};
    std::ofstream(tmp / "log.txt", std::ios::app) << std::string(10000, 'x');
    auto result = clean(nodes, {tmp / "log.txt"});
    EXPECT_TRUE(std::get<CleanableNodes>(result).empty());
    EXPECT_FALSE(exists(tmp / "log.txt"));
}

TEST_F(CategoryCleanerTest, ANewFileAtAReusedInodeIsKept) {
    FileSystemItem scanned = item("reused.txt", "old");
    if (scanned.metadata.st_birthtimespec == velmor::Timespec{}) {
        GTEST_SKIP() << "the file system under /tmp records no birth time";
    }
    // The scan saw a file born at another moment at this very inode: the one there now is new.
    scanned.metadata.st_birthtimespec.tv_sec -= 60;
    auto node = CleanableNode::item(scanned);
    auto result = clean(CleanableNodes{node}, {node->id()});
    EXPECT_TRUE(exists(tmp / "reused.txt"));
    ASSERT_EQ(std::get<CleanableNodes>(result).size(), 1u);
    auto error = store->error(*std::get<CleanableNodes>(result)[0]);
    ASSERT_TRUE(error);
    EXPECT_EQ(error->description(), "The file changed since the scan, so it was not deleted.");
}

TEST_F(CategoryCleanerTest, AFolderSwappedForALinkDuringTheCleanNeverLeadsOutside) {
    constexpr int rounds = 200;
    std::vector<FileSystemNode> files;
    std::unordered_set<std::string> selected;
    for (int i = 0; i < rounds; ++i) {
        tmp.writeFile("outside/file" + std::to_string(i), "not selected");
        files.push_back(file("scan/d/file" + std::to_string(i)));
        selected.insert(tmp / ("scan/d/file" + std::to_string(i)));
    }
    ASSERT_EQ(::symlink((tmp / "outside").c_str(), (tmp / "scan/l").c_str()), 0);
    CleanableNodes nodes = {CleanableNode::node(folder("scan/d", std::move(files)))};
    std::jthread swapper([a = tmp / "scan/d", b = tmp / "scan/l"](std::stop_token stop) {
        while (!stop.stop_requested()) {
            ::renameat2(AT_FDCWD, a.c_str(), AT_FDCWD, b.c_str(), RENAME_EXCHANGE);
        }
    });
    clean(nodes, selected);
    swapper.request_stop();
    swapper.join();
    std::size_t outside = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(tmp / "outside")) {
        ++outside;
    }
    EXPECT_EQ(outside, static_cast<std::size_t>(rounds)) << "files outside the selection were deleted";
}

TEST_F(CategoryCleanerTest, ManySelectedRowsArePrunedInFewWalksOfTheTree) {
    // Each pruning walks the whole tree on the main thread: one walk per row made the clean of many
    // rows quadratic.
    constexpr int rows = 100;
    std::vector<FileSystemNode> files;
    std::unordered_set<std::string> selected;
    for (int i = 0; i < rows; ++i) {
        files.push_back(file("many/f" + std::to_string(i)));
        selected.insert(tmp / ("many/f" + std::to_string(i)));
    }
    CleanableNodes nodes = {CleanableNode::node(folder("many", std::move(files))),
                            CleanableNode::node(file("kept"))};
    int walks = 0;
    auto task = velmor::Task<CategoryResult>::start([&] {
        CategoryCleaner cleaner(nodes, {URL::fileURL(tmp.path())}, store, logger,
                                CategoryCleaner::Hooks{[] { return true; }, [&] { ++walks; }});
        return cleaner.clean(selected);
    });
    ASSERT_TRUE(main.runUntil([&] { return task.isFinished(); }));
    EXPECT_EQ(ids(std::get<CleanableNodes>(task.value())), (std::vector<std::string>{tmp / "kept"}));
    EXPECT_GE(walks, 1);
    EXPECT_LE(walks, 8) << "about log2 of the number of rows";
}

TEST_F(CategoryCleanerTest, AnEmptySelectedFolderDisappearsWithoutADeletion) {
    CleanableNodes nodes = {CleanableNode::node(folder("empty", {})), CleanableNode::node(file("other"))};
    auto result = clean(nodes, {tmp / "empty"});
    EXPECT_EQ(ids(std::get<CleanableNodes>(result)), (std::vector<std::string>{tmp / "other"}));
    EXPECT_TRUE(exists(tmp / "empty"));
}

TEST_F(CategoryCleanerTest, AWholeResultKeepsOnlyWhatCouldNotBeDeleted) {
    FileFinderCategory category;
    category.id = "caches";
    sweepkit::AnalysisResult found;
    found.nodes = {folder("cache/x", {file("cache/x/1")}), folder("cache/y", {file("cache/y/2")})};
    found.isLastResult = true;
    found.errors = {sweepkit::ProcessingError{velmor::Error::posix(EACCES), "/somewhere"}};
    CleanableNodes nodes = {CleanableNode::nonBrowsableResult(category, found)};
    replace("cache/y/2");

    auto result = clean(nodes, {"caches"});
    const auto& left = std::get<CleanableNodes>(result);
    ASSERT_EQ(left.size(), 1u);
    const auto& whole = std::get<CleanableNode::NonBrowsableResult>(left[0]->payload());
    EXPECT_EQ(whole.category.id, "caches");
    ASSERT_EQ(whole.result.nodes.size(), 1u);
    EXPECT_EQ(whole.result.nodes[0].url().path(), tmp / "cache/y");
    EXPECT_FALSE(whole.result.isLastResult);
    EXPECT_EQ(whole.result.errors.size(), 1u);
    EXPECT_FALSE(exists(tmp / "cache/x/1"));
    EXPECT_TRUE(store->error(*left[0]));

    // When everything goes, so does the row.
    found.nodes = {folder("cache/z", {file("cache/z/3")})};
    auto all = clean(CleanableNodes{CleanableNode::nonBrowsableResult(category, found)}, {"caches"});
    EXPECT_TRUE(std::get<CleanableNodes>(all).empty());
}

} // namespace
} // namespace marrowdale
