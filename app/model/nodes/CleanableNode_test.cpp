#include "app/model/nodes/CleanableNode.hpp"

#include "platform/fs/Volume.hpp"
#include "platform/testing/TemporaryDirectory.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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

// The date the scan's record holds is the row's, whatever the entry says later, so the order of a
// sort and the dates shown agree; a row without a recorded date asks the entry once and keeps it.
TEST(CleanableNode, TheLastAccessDateIsTakenOnceAndKept) {
    velmor::testing::TemporaryDirectory tmp;
    const std::string path = tmp.writeFile("seen", "x");
    const std::string folderPath = tmp / "folder";
    ASSERT_EQ(::mkdir(folderPath.c_str(), 0755), 0);
    auto setAccessed = [](const std::string& at, time_t seconds) {
        struct timespec times[2] = {{seconds, 0}, {0, UTIME_OMIT}};
        ASSERT_EQ(::utimensat(AT_FDCWD, at.c_str(), times, AT_SYMLINK_NOFOLLOW), 0);
    };
    auto date = [](time_t seconds) { return CleanableNode::Date(std::chrono::seconds(seconds)); };
    setAccessed(path, 1000);
    setAccessed(folderPath, 1000);

    auto scanned = item(path, 1);
    scanned.metadata.st_atimespec = {2000, 0};
    auto recorded = CleanableNode::item(scanned);
    auto unrecorded = CleanableNode::item(item(path, 1));
    auto folder = CleanableNode::node(FileSystemNode::folder(URL::fileURL(folderPath), 0, {}));
    EXPECT_EQ(recorded->lastAccessDate(), date(2000)) << "the scan's date, not the entry's";
    EXPECT_EQ(unrecorded->lastAccessDate(), date(1000));
    EXPECT_EQ(folder->lastAccessDate(), date(1000));

    setAccessed(path, 3000);
    setAccessed(folderPath, 3000);
    EXPECT_EQ(recorded->lastAccessDateOrDistantPast(), date(2000));
    EXPECT_EQ(unrecorded->lastAccessDateOrDistantPast(), date(1000));
    EXPECT_EQ(folder->lastAccessDateOrDistantPast(), date(1000));
    // A new row, as a new scan makes, takes the date anew.
    EXPECT_EQ(CleanableNode::item(item(path, 1))->lastAccessDate(), date(3000));

    ASSERT_EQ(::unlink(path.c_str()), 0);
    EXPECT_EQ(recorded->lastAccessDate(), date(2000));
    EXPECT_EQ(unrecorded->lastAccessDate(), date(1000));
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
