#include "app/model/nodes/Selection.hpp"

#include <gtest/gtest.h>

#include <limits>

namespace marrowdale {
namespace {

using sweepkit::FileSystemItem;
using sweepkit::FileSystemNode;
using velmor::URL;

FileSystemNode file(const std::string& path, std::int64_t size) {
    velmor::Stat stat;
    stat.st_size = size;
    return FileSystemNode::item(FileSystemItem{URL::fileURL(path), stat, true});
}

FileSystemNode folder(const std::string& path, std::int64_t size, std::vector<FileSystemNode> children) {
    return FileSystemNode::folder(URL::fileURL(path), size, std::move(children));
}

// /r (300): /r/a (100), /r/d (200): /r/d/b (150), /r/d/c (50); and a lone /s (7).
CleanableNodes forest() {
    return {
        CleanableNode::node(folder(
            "/r", 300, {file("/r/a", 100), folder("/r/d", 200, {file("/r/d/b", 150), file("/r/d/c", 50)})})),
        CleanableNode::node(file("/s", 7))};
}

std::vector<std::string> ids(const CleanableNodes& nodes) {
    std::vector<std::string> result;
    for (const auto& node : nodes) {
        result.push_back(node->id());
    }
    return result;
}

TEST(Selection, SelectedRowsAreTakenWholeInTreeOrder) {
    auto nodes = forest();
    EXPECT_TRUE(selectedNodes({}, nodes).empty());
    EXPECT_TRUE(selectedNodes({"/r"}, {}).empty());
    EXPECT_EQ(ids(selectedNodes({"/r/d", "/r/d/b"}, nodes)), (std::vector<std::string>{"/r/d"}));
    EXPECT_EQ(ids(selectedNodes({"/s", "/r/d/c", "/r/a"}, nodes)),
              (std::vector<std::string>{"/r/a", "/r/d/c", "/s"}));
    EXPECT_EQ(ids(selectedNodes({"/r"}, nodes)), (std::vector<std::string>{"/r"}));
    EXPECT_TRUE(selectedNodes({"/nowhere", "/r/d/"}, nodes).empty());
    // The rows handed out are the rows of the tree, not copies.
    EXPECT_EQ(selectedNodes({"/r/d"}, nodes).at(0).get(), nodes[0]->children()->at(1).get());
}

TEST(Selection, PruningKeepsAncestorSizesAndDropsEmptiedFolders) {
    auto nodes = forest();
    EXPECT_TRUE(pruneCleanedNodes("/r/d/b", nullptr, nodes));
    EXPECT_EQ(nodes[0]->children()->at(1)->size(), 50);
    EXPECT_EQ(nodes[0]->size(), 150);

    EXPECT_TRUE(pruneCleanedNodes("/r/d/c", nullptr, nodes));
    EXPECT_EQ(ids(*nodes[0]->children()), (std::vector<std::string>{"/r/a"}));
    EXPECT_EQ(nodes[0]->size(), 100);

    EXPECT_TRUE(pruneCleanedNodes("/r/a", nullptr, nodes));
    EXPECT_EQ(ids(nodes), (std::vector<std::string>{"/s"}));
    EXPECT_EQ(nodes[0]->size(), 7);

    EXPECT_FALSE(pruneCleanedNodes("/nowhere", nullptr, nodes));
    EXPECT_EQ(ids(nodes), (std::vector<std::string>{"/s"}));
}

TEST(Selection, PruningATopRowLeavesTheRestAlone) {
    auto nodes = forest();
    EXPECT_TRUE(pruneCleanedNodes("/r", nullptr, nodes));
    EXPECT_EQ(ids(nodes), (std::vector<std::string>{"/s"}));
    EXPECT_EQ(nodes[0]->size(), 7);
}

TEST(Selection, AReplacementTakesThePlaceAndItsSizeCounts) {
    auto nodes = forest();
    auto remainder = CleanableNode::node(folder("/r/d", 40, {file("/r/d/c", 40)}));
    EXPECT_TRUE(pruneCleanedNodes("/r/d", remainder, nodes));
    ASSERT_EQ(nodes[0]->children()->size(), 2u);
    EXPECT_EQ(nodes[0]->children()->at(1).get(), remainder.get());
    EXPECT_EQ(nodes[0]->size(), 140);
}

TEST(Selection, AFolderStillHoldingEmptyFilesStays) {
    CleanableNodes nodes = {
        CleanableNode::node(folder("/r", 10, {file("/r/empty", 0), file("/r/full", 10)}))};
    EXPECT_TRUE(pruneCleanedNodes("/r/full", nullptr, nodes));
    ASSERT_EQ(nodes.size(), 1u);
    EXPECT_EQ(nodes[0]->size(), 0);
    EXPECT_EQ(ids(*nodes[0]->children()), (std::vector<std::string>{"/r/empty"}));
}

// The forest as text: each row's id and size, with its children in brackets.
std::string shape(const CleanableNodes& nodes) {
    std::string text;
    for (const auto& node : nodes) {
        text += node->id() + ":" + std::to_string(node->size());
        if (auto& children = node->children(); children && !children->empty()) {
            text += "[" + shape(*children) + "]";
        }
        text += " ";
    }
    return text;
}

TEST(Selection, PruningManyRowsInOneWalkEndsAsPruningThemOneByOne) {
    struct Case {
        std::unordered_set<std::string> selected;
        std::string remainderOf; // the selected row that leaves a remainder, if any
    };
    for (const Case& c :
         {Case{{"/r/d/b"}, ""}, Case{{"/r/d/b", "/r/d/c"}, ""}, Case{{"/r/a", "/r/d/c", "/s"}, ""},
          Case{{"/r/a", "/r/d"}, "/r/d"}, Case{{"/r"}, ""}, Case{{"/r/d/c", "/s"}, "/s"}}) {
        auto oneByOne = forest();
        auto batched = forest();
        auto remainder = CleanableNode::node(file(c.remainderOf, 3));
        std::vector<CleanedNode> cleaned;
        for (const auto& node : selectedNodes(c.selected, batched)) {
            cleaned.push_back({node, node->id() == c.remainderOf ? remainder : nullptr});
        }
        for (const auto& node : selectedNodes(c.selected, oneByOne)) {
            pruneCleanedNodes(node->id(), node->id() == c.remainderOf ? remainder : nullptr, oneByOne);
        }
        pruneCleanedNodes(cleaned, batched);
        EXPECT_EQ(shape(batched), shape(oneByOne))
            << cleaned.size() << " rows, remainder of " << c.remainderOf;
    }
}

TEST(Selection, SizesLeftAfterPruningStopAtTheLargestCount) {
    // Sparse files may claim nearly 2^63 bytes: two of them left in a folder must not wrap round.
    constexpr std::int64_t largest = std::numeric_limits<std::int64_t>::max();
    const auto hugeForest = [] {
        return CleanableNodes{CleanableNode::node(
            folder("/r", largest, {file("/r/a", largest - 1), file("/r/b", largest - 1), file("/r/c", 1)}))};
    };
    auto oneByOne = hugeForest();
    EXPECT_TRUE(pruneCleanedNodes("/r/c", nullptr, oneByOne));
    EXPECT_EQ(oneByOne[0]->size(), largest) << "one row";
    auto batched = hugeForest();
    pruneCleanedNodes({{selectedNodes({"/r/c"}, batched).at(0), nullptr}}, batched);
    EXPECT_EQ(batched[0]->size(), largest) << "a batch of rows";
}

TEST(Selection, RowsSharingAnIdentifierArePrunedEachWhereItStands) {
    // Two definitions found the same file: it shows under both folders.
    CleanableNodes nodes = {CleanableNode::node(folder("/a", 5, {file("/f", 5)})),
                            CleanableNode::node(folder("/b", 9, {file("/f", 5), file("/b/g", 4)}))};
    auto selected = selectedNodes({"/f"}, nodes);
    ASSERT_EQ(selected.size(), 2u);
    auto remainder = CleanableNode::node(file("/f", 5));
    pruneCleanedNodes({{selected[0], nullptr}, {selected[1], remainder}}, nodes);
    EXPECT_EQ(shape(nodes), "/b:9[/f:5 /b/g:4 ] ");
    EXPECT_EQ(nodes[0]->children()->at(0).get(), remainder.get());
}

} // namespace
} // namespace marrowdale
