#include "sdk/finder/records/FileSystemNode.hpp"

#include "platform/fs/URLCoding.hpp"
#include "platform/testing/ChildTestRun.hpp"
#include "platform/testing/CountedAllocations.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <climits>
#include <cstdlib>
#include <new>
#include <pthread.h>
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

// Runs `work` on a thread with a stack of `bytes` and waits for it.
template <typename Work> void onSmallStack(std::size_t bytes, Work& work) {
    pthread_attr_t attributes;
    ASSERT_EQ(::pthread_attr_init(&attributes), 0);
    ASSERT_EQ(::pthread_attr_setstacksize(&attributes, bytes), 0);
    pthread_t thread;
    auto run = [](void* argument) -> void* {
        (*static_cast<Work*>(argument))();
        return nullptr;
    };
    ASSERT_EQ(::pthread_create(&thread, &attributes, run, &work), 0);
    ::pthread_attr_destroy(&attributes);
    ::pthread_join(thread, nullptr);
}

// A chain of `levels` folders below "/c", the deepest holding one item.
FileSystemNode folderChain(std::size_t levels) {
    std::vector<std::string> paths{"/c"};
    while (paths.size() < levels) {
        paths.push_back(paths.back() + "/d");
    }
    FileSystemNode node = FileSystemNode::item(item((paths.back() + "/f").c_str(), 5));
    for (auto path = paths.rbegin(); path != paths.rend(); ++path) {
        std::vector<FileSystemNode> children;
        children.push_back(std::move(node));
        node = FileSystemNode::folder(URL::fileURL(*path), 4096, std::move(children));
    }
    return node;
}

TEST(FileSystemNode, EncodingADeepResultBuildsEachLevelOnce) {
    // Shallow enough for the decoder's nesting limit.
    const std::size_t levels = 150;
    const FileSystemNode node = folderChain(levels);
    const std::size_t before = velmor::testing::allocationsMade.load();
    const velmor::coding::Value encoded = velmor::coding::encode(node);
    const std::size_t made = velmor::testing::allocationsMade.load() - before;
    EXPECT_EQ(velmor::coding::decode<FileSystemNode>(encoded), node);
    // A few allocations for each folder's own value; one that copied what lies below each level
    // into it would make some thousands per level here.
    EXPECT_LE(made, 50 * levels + 200);
}

TEST(FileSystemNode, AResultAsDeepAsThePathLimitEncodesOnASmallStack) {
    // A stack overflow ends the process: the encoding runs in a fresh one.
    if (!velmor::testing::continuesInFreshProcess()) {
        return;
    }
    // Folders one inside the other until the path limit, the deepest holding one item, as a
    // search that matches everything gives for such a chain.
    // "/c", then "/d" per level, and "/f" for the item.
    const std::size_t levels = (PATH_MAX - 1 - 4) / 2;
    const FileSystemNode node = folderChain(levels);

    velmor::coding::Value encoded;
    auto encode = [&] { encoded = velmor::coding::encode(node); };
    onSmallStack(256 * 1024, encode);

    // Down the encoded chain to the item, each level as one folder with the one child.
    const velmor::coding::Value* level = &encoded;
    const FileSystemNode* folder = &node;
    std::size_t folders = 0;
    for (;;) {
        const auto* object = level->get<velmor::coding::Object>();
        ASSERT_NE(object, nullptr) << "level " << folders;
        ASSERT_EQ(object->size(), 1u) << "level " << folders;
        if (object->contains("item")) {
            break;
        }
        const auto* payload = object->find("folder")->get<velmor::coding::Object>();
        ASSERT_NE(payload, nullptr) << "level " << folders;
        ASSERT_EQ(*payload->find("_0"), velmor::coding::encode(folder->url())) << "level " << folders;
        ASSERT_EQ(*payload->find("contentSize"), velmor::coding::Value(4096));
        const auto* children = payload->find("_2")->get<velmor::coding::Array>();
        ASSERT_NE(children, nullptr) << "level " << folders;
        ASSERT_EQ(children->size(), 1u) << "level " << folders;
        level = &children->front();
        folder = &folder->asFolder()->children.front();
        ++folders;
    }
    EXPECT_EQ(folders, levels);
    EXPECT_EQ(level->get<velmor::coding::Object>()->find("item")->get<velmor::coding::Object>()->entries().front().second,
              velmor::coding::encode(*node.allItems().begin()));
}

} // namespace
} // namespace sweepkit
