#include "sdk/finder/spotlight/SpotlightItem.hpp"

#include "platform/metadata/MetadataAttributes.hpp"
#include "platform/testing/TemporaryDirectory.hpp"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace sweepkit {
namespace {

namespace md = velmor::metadata;
using velmor::URL;

md::MetadataItem result(const std::string& path, std::map<std::string, velmor::coding::Value> attributes) {
    return md::MetadataItem(URL::fileURL(path), std::move(attributes));
}

TEST(SpotlightItem, TakesTheStatusFromDiskAndTheAllocatedSizeAsItsSize) {
    velmor::testing::TemporaryDirectory dir;
    const std::string sparse = dir / "sparse";
    int fd = ::open(sparse.c_str(), O_CREAT | O_WRONLY, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, 4 * 1024 * 1024), 0);
    ::close(fd);
    struct ::stat record {};
    ASSERT_EQ(::lstat(sparse.c_str(), &record), 0);

    auto item = makeSpotlightItem(result(
        sparse, {{md::NSMetadataItemPathKey, sparse}, {md::NSMetadataItemFSSizeKey, 4 * 1024 * 1024}}));
    ASSERT_TRUE(item);
    EXPECT_EQ(item->url, URL::fileURL(sparse));
    EXPECT_EQ(item->metadata.st_ino, record.st_ino);
    EXPECT_EQ(item->metadata.st_size, std::int64_t{record.st_blocks} * 512);
    EXPECT_LT(item->metadata.st_size, 4 * 1024 * 1024) << "a hole takes no room";
    EXPECT_TRUE(item->hasDeletePermission);
}

TEST(SpotlightItem, FallsBackOnTheIndexedSizeWhenTheDiskCannotTell) {
    velmor::testing::TemporaryDirectory dir;
    const std::string gone = dir / "gone";
    const std::string folder = dir.makeDirectory("folder");

    auto indexed = makeSpotlightItem(
        result(gone, {{md::NSMetadataItemPathKey, gone}, {md::NSMetadataItemFSSizeKey, 1234}}));
    ASSERT_TRUE(indexed);
    velmor::Stat expected;
    expected.st_size = 1234;
    EXPECT_EQ(indexed->metadata, expected) << "zeros but the size";

    auto unsized = makeSpotlightItem(
        result(gone, {{md::NSMetadataItemPathKey, gone}, {md::NSMetadataItemFSSizeKey, "big"}}));
    ASSERT_TRUE(unsized);
    EXPECT_EQ(unsized->metadata.st_size, 0);

    auto directory = makeSpotlightItem(
        result(folder, {{md::NSMetadataItemPathKey, folder}, {md::NSMetadataItemFSSizeKey, 7}}));
    ASSERT_TRUE(directory);
    EXPECT_EQ(directory->metadata.st_size, 7);
    EXPECT_TRUE(S_ISDIR(directory->metadata.st_mode));
}

TEST(SpotlightItem, AResultWithoutATextPathIsNoItem) {
    EXPECT_FALSE(makeSpotlightItem(result("/r/f", {{md::NSMetadataItemFSSizeKey, 1}})));
    EXPECT_FALSE(makeSpotlightItem(result("/r/f", {{md::NSMetadataItemPathKey, 42}})));
}

} // namespace
} // namespace sweepkit
