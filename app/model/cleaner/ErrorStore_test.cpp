#include "app/model/cleaner/ErrorStore.hpp"

#include <gtest/gtest.h>

namespace marrowdale {
namespace {

using sweepkit::FileSystemItem;
using sweepkit::FileSystemNode;
using velmor::Error;
using velmor::URL;

FileSystemItem item(const std::string& path) {
    return FileSystemItem{URL::fileURL(path), {}, true};
}

TEST(ErrorStore, OnlyErrorRootsShowTheFirstFailureBelowThem) {
    ErrorStore store;
    int changes = 0;
    store.subscribe([&] { ++changes; });

    auto folder = CleanableNode::node(FileSystemNode::folder(
        URL::fileURL("/r"), 0,
        {FileSystemNode::folder(URL::fileURL("/r/d"), 0, {FileSystemNode::item(item("/r/d/b"))}),
         FileSystemNode::item(item("/r/a"))}));
    auto child = folder->children()->at(1);

    store.record(Error::posix(EACCES), item("/r/a"), *folder);
    store.record(Error::posix(EPERM), item("/r/d/b"), *folder);
    EXPECT_GT(changes, 0);

    // The failure of /r/d/b comes first in row order, although it was recorded second.
    ASSERT_TRUE(store.error(*folder));
    EXPECT_EQ(*store.error(*folder), Error::posix(EPERM));
    // A row below an error root shows nothing of its own.
    EXPECT_FALSE(store.error(*child));

    store.record(Error::posix(EBUSY), item("/r/d/b"), *folder);
    EXPECT_EQ(*store.error(*folder), Error::posix(EBUSY));

    store.removeAll();
    EXPECT_FALSE(store.error(*folder));
    EXPECT_TRUE(store.errors().empty());
}

TEST(ErrorStore, LoneItemsAndWholeResults) {
    ErrorStore store;
    auto lone = CleanableNode::item(item("/x"));
    EXPECT_FALSE(store.error(*lone));
    store.record(Error::posix(EROFS), item("/x"), *lone);
    EXPECT_EQ(*store.error(*lone), Error::posix(EROFS));

    FileFinderCategory category;
    category.id = "logs";
    sweepkit::AnalysisResult result;
    result.nodes = {FileSystemNode::item(item("/l/1")), FileSystemNode::item(item("/l/2"))};
    auto whole = CleanableNode::nonBrowsableResult(category, result);
    store.record(Error::posix(EIO), item("/l/2"), *whole);
    EXPECT_EQ(store.errorRoots().count("logs"), 1u);
    EXPECT_EQ(*store.error(*whole), Error::posix(EIO));
}

} // namespace
} // namespace marrowdale
