#include "app/model/nodes/SelectedSize.hpp"

#include "app/model/nodes/SelectedSizeTracker.hpp"
#include "app/model/nodes/Selection.hpp"
#include "sdk/finder/records/SaturatingSum.hpp"

#include <gtest/gtest.h>

#include <limits>
#include <set>
#include <unordered_set>

namespace marrowdale {
namespace {

using sweepkit::FileSystemItem;
using sweepkit::FileSystemNode;
using velmor::URL;

constexpr std::int64_t largest = std::numeric_limits<std::int64_t>::max();

FileSystemItem item(const std::string& path, std::int64_t size) {
    velmor::Stat stat;
    stat.st_size = size;
    return FileSystemItem{URL::fileURL(path), stat, true};
}

FileSystemNode folder(const std::string& path, std::int64_t size, std::vector<FileSystemNode> children) {
    return FileSystemNode::folder(URL::fileURL(path), size, std::move(children));
}

CleanableNodePtr wholeDefinition(const std::string& id, std::vector<FileSystemNode> nodes) {
    FileFinderCategory definition;
    definition.id = id;
    sweepkit::AnalysisResult result;
    result.nodes = std::move(nodes);
    return CleanableNode::nonBrowsableResult(std::move(definition), std::move(result));
}

// The rows of three overlapping categories over one home folder.
struct Rows {
    // Large files: a file in the cache folder and an old download.
    CleanableNodePtr bigCache = CleanableNode::item(item("/h/.cache/big", 6000));
    CleanableNodePtr bigDownload = CleanableNode::item(item("/h/Downloads/old.iso", 200));
    // Junk: the whole "caches" definition, the big file and one more.
    CleanableNodePtr caches =
        wholeDefinition("caches", {folder("/h/.cache", 6001,
                                          {FileSystemNode::item(item("/h/.cache/big", 6000)),
                                           FileSystemNode::item(item("/h/.cache/small", 1))})});
    // Old files: the downloads folder with the old download in it, and a folder whose name merely
    // starts like it.
    CleanableNodePtr downloads =
        CleanableNode::node(folder("/h/Downloads", 300,
                                   {FileSystemNode::item(item("/h/Downloads/old.iso", 200)),
                                    FileSystemNode::item(item("/h/Downloads/a", 100))}));
    CleanableNodePtr downloadsOld = downloads->children()->at(0);
    CleanableNodePtr downloadsLookalike = CleanableNode::item(item("/h/Downloads2", 10));
};

TEST(SelectedSize, EachEntryCountsOnceThoughCategoriesOverlap) {
    Rows rows;
    struct Case {
        const char* name;
        CleanableNodes selected;
        std::int64_t size;
    };
    const Case cases[] = {
        {"nothing", {}, 0},
        {"a large file alone", {rows.bigCache}, 6000},
        {"the caches row alone", {rows.caches}, 6001},
        {"a large file and the caches row holding it", {rows.bigCache, rows.caches}, 6001},
        {"the caches row and the large file in it", {rows.caches, rows.bigCache}, 6001},
        {"a folder and a large file inside it", {rows.bigDownload, rows.downloads}, 300},
        {"one file in two categories", {rows.bigDownload, rows.downloadsOld}, 200},
        {"a name that only starts like a selected folder", {rows.downloads, rows.downloadsLookalike}, 310},
        {"everything",
         {rows.bigCache, rows.bigDownload, rows.caches, rows.downloads, rows.downloadsLookalike},
         6311},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(selectedSize(c.selected), c.size) << c.name;
    }
}

TEST(SelectedSizeTracker, EachChangeGivesTheSizeOfAWalkOverTheWholeSelection) {
    Rows rows;
    CleanableNodePtr deep = CleanableNode::node(
        folder("/h/deep", 7, {folder("/h/deep/x", 7, {FileSystemNode::item(item("/h/deep/x/y", 7))})}));
    const CleanableNodes forest{rows.bigCache, rows.bigDownload, rows.caches, rows.downloads,
                                rows.downloadsLookalike, deep};
    SelectedSizeTracker tracker;
    tracker.reset(forest);
    // Selected once per category that selects them.
    std::multiset<std::string> selected;
    struct Step {
        bool add;
        std::string id;
    };
    const Step steps[] = {
        {true, "/h/Downloads/a"},    // below a folder row, found by opening it
        {true, "/h/deep/x/y"},       // two levels down
        {true, "/h/Downloads"},      // holds the first
        {true, "/h/Downloads2"},     // only starts like it
        {true, "/h/.cache/big"},     //
        {true, "caches"},            // a whole definition holding the big file
        {true, "/h/Downloads/old.iso"},
        {true, "/h/none"},           // nothing shown
        {true, "/h/Downloads"},      // in a second category
        {false, "/h/Downloads"},     // still in one
        {false, "/h/Downloads"},     // in none: what it held counts again
        {true, "/h/deep"},
        {false, "caches"},
        {false, "/h/deep/x/y"},
        {false, "/h/deep"},
        {false, "/h/none"},
        {false, "/h/never-selected"},
        {false, "/h/.cache/big"},
        {false, "/h/Downloads/a"},
        {false, "/h/Downloads2"},
        {false, "/h/Downloads/old.iso"},
    };
    for (const auto& step : steps) {
        if (step.add) {
            selected.insert(step.id);
            tracker.add(step.id);
        } else {
            if (auto one = selected.find(step.id); one != selected.end()) {
                selected.erase(one);
            }
            tracker.remove(step.id);
        }
        const std::unordered_set<std::string> ids(selected.begin(), selected.end());
        EXPECT_EQ(tracker.total(), selectedSize(selectedNodes(ids, forest)))
            << (step.add ? "adding " : "removing ") << step.id;
    }
    EXPECT_EQ(tracker.total(), 0);

    // Sums beyond the largest count read as the largest, and come back exactly when rows go.
    SelectedSizeTracker sparse;
    const CleanableNodes images{CleanableNode::item(item("/h/a.img", largest)),
                                CleanableNode::item(item("/h/b.img", largest)),
                                CleanableNode::item(item("/h/c", 1))};
    sparse.reset(images);
    for (const char* id : {"/h/a.img", "/h/b.img", "/h/c"}) {
        sparse.add(id);
    }
    EXPECT_EQ(sparse.total(), largest);
    sparse.remove("/h/a.img");
    sparse.remove("/h/b.img");
    EXPECT_EQ(sparse.total(), 1);
}

TEST(SelectedSize, SumsSaturateAtTheLargestCount) {
    // Sparse files may claim nearly 2^63 bytes each.
    EXPECT_EQ(sweepkit::saturatingAdd(largest, largest), largest);
    EXPECT_EQ(sweepkit::saturatingAdd(largest - 1, 1), largest);
    EXPECT_EQ(sweepkit::saturatingAdd(5, -7), -2);

    auto sparseA = CleanableNode::item(item("/h/a.img", largest));
    auto sparseB = CleanableNode::item(item("/h/b.img", largest));
    EXPECT_EQ(selectedSize({sparseA, sparseB}), largest);

    auto whole = wholeDefinition("images", {FileSystemNode::item(item("/h/a.img", largest)),
                                            FileSystemNode::item(item("/h/b.img", largest))});
    EXPECT_EQ(whole->size(), largest) << "a whole-definition row";

    CleanableNodes tree{CleanableNode::node(
        folder("/h", largest,
               {FileSystemNode::item(item("/h/a.img", largest)),
                FileSystemNode::item(item("/h/b.img", largest)), FileSystemNode::item(item("/h/c", 1))}))};
    ASSERT_TRUE(pruneCleanedNodes("/h/c", nullptr, tree));
    EXPECT_EQ(tree[0]->size(), largest) << "a pruned folder";
}

} // namespace
} // namespace marrowdale
