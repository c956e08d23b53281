#include "sdk/finder/records/FileSystemNode.hpp"

#include <gtest/gtest.h>

#include <unordered_set>

namespace sweepkit {
namespace {

using velmor::URL;

FileSystemItem item(const char* path, std::int64_t size = 1) {
    velmor::Stat stat;
    stat.st_size = size;
    return FileSystemItem{URL::fileURL(path), stat, true};
}

TEST(FileSystemItem, IdentityIsTheURLAlone) {
    FileSystemItem a = item("/r/a", 1);
    FileSystemItem b = item("/r/a", 99);
    b.hasDeletePermission = false;
    EXPECT_EQ(a, b);
    EXPECT_EQ(std::hash<FileSystemItem>{}(a), std::hash<FileSystemItem>{}(b));
    EXPECT_NE(a, item("/r/b"));
}

TEST(FileSystemNode, AllItemsInDepthFirstOrder) {
    auto tree =
        FileSystemNode::folder(URL::fileURL("/r"), 12,
                               {FileSystemNode::item(item("/r/1")),
                                FileSystemNode::folder(URL::fileURL("/r/d"), 8,
                                                       {FileSystemNode::item(item("/r/d/2")),
                                                        FileSystemNode::folder(URL::fileURL("/r/d/e"), 0, {}),
                                                        FileSystemNode::item(item("/r/d/3"))}),
                                FileSystemNode::item(item("/r/4"))});
    std::vector<std::string> paths;
    for (const auto& found : tree.allItems()) {
        paths.push_back(found.url.path());
    }
    EXPECT_EQ(paths, (std::vector<std::string>{"/r/1", "/r/d/2", "/r/d/3", "/r/4"}));
    EXPECT_EQ(FileSystemNode::item(item("/x")).allItems().size(), 1u);

    EXPECT_TRUE(FileSystemNode::folder(URL::fileURL("/e"), 0, {}).isEmptyFolder());
    EXPECT_TRUE(FileSystemNode::folder(URL::fileURL("/e"), 0, {}).allItems().empty());
    EXPECT_FALSE(tree.isEmptyFolder());
    EXPECT_FALSE(FileSystemNode::item(item("/x")).isEmptyFolder());
}

TEST(FileSystemNode, EqualityAndHashAreStructural) {
    auto make = [](std::int64_t size, const char* childPath) {
        return FileSystemNode::folder(URL::fileURL("/r"), size, {FileSystemNode::item(item(childPath))});
    };
    EXPECT_EQ(make(4096, "/r/a"), make(4096, "/r/a"));
    EXPECT_EQ(make(4096, "/r/a").hash(), make(4096, "/r/a").hash());
    EXPECT_NE(make(4096, "/r/a"), make(8192, "/r/a"));
    EXPECT_NE(make(4096, "/r/a"), make(4096, "/r/b"));
    EXPECT_NE(FileSystemNode::item(item("/r")), FileSystemNode::folder(URL::fileURL("/r"), 0, {}));
    // Items inside nodes compare by URL only, like items themselves.
    EXPECT_EQ(FileSystemNode::item(item("/r/a", 1)), FileSystemNode::item(item("/r/a", 2)));

    std::unordered_set<FileSystemNode> set{make(4096, "/r/a"), make(4096, "/r/a"), make(1, "/r/a")};
    EXPECT_EQ(set.size(), 2u);
}

} // namespace
} // namespace sweepkit
