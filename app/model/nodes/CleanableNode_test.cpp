#include "app/model/nodes/CleanableNode.hpp"

#include "platform/testing/TemporaryDirectory.hpp"

#include <gtest/gtest.h>

namespace marrowdale {
namespace {

using sweepkit::FileSystemItem;
using sweepkit::FileSystemNode;
using velmor::URL;

FileSystemItem item(const std::string& path, std::int64_t size) {
    velmor::Stat stat;
    stat.st_size = size;
    stat.st_blksize = 4096;
    return FileSystemItem{URL::fileURL(path), stat, true};
}

TEST(CleanableNode, FolderRowsOfASearchTree) {
    auto folder = CleanableNode::node(FileSystemNode::folder(
        URL::fileURL("/r/d"), 8192,
        {FileSystemNode::item(item("/r/d/a", 10)), FileSystemNode::folder(URL::fileURL("/r/d/e"), 0, {})}));
    EXPECT_EQ(folder->id(), "/r/d");
    EXPECT_EQ(folder->url(), URL::fileURL("/r/d"));
    EXPECT_EQ(folder->size(), 8192);
    EXPECT_EQ(folder->displayName(), "d");
    EXPECT_EQ(folder->icon(), (IconDescriptor{IconDescriptor::Kind::file, "/r/d"}));

    auto& children = folder->children();
    ASSERT_TRUE(children);
    ASSERT_EQ(children->size(), 2u);
    // Children are made once and kept: later reads see the same rows.
    EXPECT_EQ(folder->children()->at(0).get(), children->at(0).get());
    EXPECT_EQ(children->at(0)->id(), "/r/d/a");
    EXPECT_EQ(children->at(0)->size(), 10); // the logical length, not the rounded size
    EXPECT_FALSE(children->at(0)->children());
    ASSERT_TRUE(children->at(1)->children());
    EXPECT_TRUE(children->at(1)->children()->empty());
}

TEST(CleanableNode, AWholeResultIsOneLine) {
    FileFinderCategory category;
    category.id = "caches";
    sweepkit::AnalysisResult result;
    result.nodes = {FileSystemNode::folder(
                        URL::fileURL("/c"), 8192,
                        {FileSystemNode::item(item("/c/1", 100)), FileSystemNode::item(item("/c/2", 23))}),
                    FileSystemNode::item(item("/other", 1))};
    auto row = CleanableNode::nonBrowsableResult(category, result);
    EXPECT_EQ(row->id(), "caches");
    EXPECT_EQ(row->displayName(), "caches");
    EXPECT_FALSE(row->url());
    EXPECT_FALSE(row->children());
    EXPECT_EQ(row->size(), 124);
    EXPECT_EQ(row->icon().kind, IconDescriptor::Kind::folderType);
    EXPECT_FALSE(row->lastAccessDate());
    EXPECT_EQ(row->lastAccessDateOrDistantPast(), CleanableNode::distantPast());
}

TEST(CleanableNode, LastAccessDateComesFromTheEntry) {
    velmor::testing::TemporaryDirectory tmp;
    std::string path = tmp.writeFile("seen", "x");
    auto row = CleanableNode::item(item(path, 1));
    ASSERT_TRUE(row->lastAccessDate());
    EXPECT_GT(*row->lastAccessDate(), CleanableNode::distantPast());
    auto gone = CleanableNode::item(item(tmp / "gone", 1));
    EXPECT_FALSE(gone->lastAccessDate());
    EXPECT_EQ(gone->displayName(), "gone");
}

} // namespace
} // namespace marrowdale
