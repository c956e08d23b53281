#include "app/model/nodes/CleanableNode.hpp"

#include "platform/fs/Volume.hpp"
#include "platform/testing/TemporaryDirectory.hpp"

#include <sys/stat.h>

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

TEST(CleanableNode, OnlyFoldersAreNamedAfterTheirVolume) {
    // The root is a mount point, so a folder row there takes the volume's name. A row the scan saw
    // as a file is named by its last path component without asking the system.
    velmor::Stat file;
    file.st_mode = S_IFREG | 0644;
    velmor::Stat folder;
    folder.st_mode = S_IFDIR | 0755;
    const auto root = URL::fileURL("/");
    EXPECT_EQ(CleanableNode::item(FileSystemItem{root, file, true})->displayName(), "/");
    EXPECT_EQ(CleanableNode::node(FileSystemNode::item(FileSystemItem{root, file, true}))->displayName(),
              "/");
    EXPECT_EQ(CleanableNode::item(FileSystemItem{root, folder, true})->displayName(),
              velmor::localizedName(root));
    EXPECT_EQ(CleanableNode::node(FileSystemNode::folder(root, 0, {}))->displayName(),
              velmor::localizedName(root));
}

TEST(CleanableNode, TellsWhetherItOpensWithoutMakingChildren) {
    auto full = CleanableNode::node(
        FileSystemNode::folder(URL::fileURL("/r/d"), 10, {FileSystemNode::item(item("/r/d/a", 10))}));
    auto empty = CleanableNode::node(FileSystemNode::folder(URL::fileURL("/r/e"), 0, {}));
    auto file = CleanableNode::node(FileSystemNode::item(item("/r/f", 1)));
    EXPECT_TRUE(full->hasChildren());
    EXPECT_FALSE(empty->hasChildren());
    EXPECT_FALSE(file->hasChildren());
    // Once the kept rows change (pruning), the answer follows them.
    full->setChildren(CleanableNodes{});
    EXPECT_FALSE(full->hasChildren());
    empty->setChildren(CleanableNodes{file});
    EXPECT_TRUE(empty->hasChildren());
}

} // namespace
} // namespace marrowdale
