#include "sdk/duplicates/DuplicateFinderResult.hpp"
#include "sdk/duplicates/DuplicateFinderSettings.hpp"
#include "sdk/finder/records/SaturatingSum.hpp"

#include "platform/coding/JSON.hpp"
#include "platform/coding/PropertyList.hpp"

#include <gtest/gtest.h>

#include <limits>

namespace sweepkit {
namespace {

using velmor::coding::DecodingError;

pipeline::FileSystemItem itemOfSize(const std::string& path, std::int64_t size) {
    velmor::Stat stat;
    stat.st_size = size;
    return pipeline::FileSystemItem(path, stat, true);
}

pipeline::DuplicateGroup groupOfSizes(const std::vector<std::int64_t>& sizes) {
    pipeline::DuplicateGroup group{velmor::UUID::random(), {}};
    for (std::int64_t size : sizes) {
        group.items.append(itemOfSize("/r/" + std::to_string(group.items.size()), size));
    }
    return group;
}

DuplicateFinderResult resultOf(const std::vector<std::vector<std::int64_t>>& groups) {
    DuplicateFinderResult result;
    for (const auto& sizes : groups) {
        auto group = groupOfSizes(sizes);
        result.duplicatesByHash.emplace(group.id, group);
    }
    return result;
}

TEST(DuplicateFinderResult, TotalsCountEveryMemberAndFreeAllButTheFirst) {
    struct Case {
        const char* name;
        std::vector<std::vector<std::int64_t>> groups;
        std::int64_t totalSize;
        std::int64_t reclaimableSize;
    };
    constexpr std::int64_t largest = std::numeric_limits<std::int64_t>::max();
    constexpr std::int64_t quarter = std::int64_t{1} << 62;
    const Case cases[] = {
        {"empty", {}, 0, 0},
        {"three files of 10 bytes", {{10, 10, 10}}, 30, 20},
        {"2 x 5 and 3 x 7", {{5, 5}, {7, 7, 7}}, 31, 19},
        // A folder counts by its own entry's size, not by what it holds.
        {"a folder group", {{4096, 4096}}, 8192, 4096},
        {"an empty group", {{}, {3, 3}}, 6, 3},
        // Sparse copies may claim nearly 2^63 bytes each: sums stop at the largest count.
        {"sparse copies", {{largest - 1, largest - 1, largest - 1}}, largest, largest},
        {"two groups of sparse copies", {{quarter, quarter}, {quarter, quarter}}, largest, largest},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const DuplicateFinderResult result = resultOf(c.groups);
        EXPECT_EQ(result.totalSize(), c.totalSize);
        EXPECT_EQ(result.reclaimableSize(), c.reclaimableSize);
        std::int64_t total = 0;
        std::int64_t reclaimable = 0;
        for (const auto& group : result.groups()) {
            total = saturatingAdd(total, group.totalSize());
            reclaimable = saturatingAdd(reclaimable, group.reclaimableSize());
        }
        EXPECT_EQ(total, c.totalSize);
        EXPECT_EQ(reclaimable, c.reclaimableSize);
    }
}

TEST(DuplicateFinderResult, GroupsCarryURLsMetadataAndDeleteFlagsInItemOrder) {
    pipeline::DuplicateGroup group{velmor::UUID::random(), {}};
    group.items.append(itemOfSize("/r/b", 3));
    group.items.append(pipeline::FileSystemItem("/r/a", velmor::Stat{}, false));
    DuplicateFinderResult result;
    result.duplicatesByHash.emplace(group.id, group);

    const auto groups = result.groups();
    ASSERT_EQ(groups.size(), 1U);
    EXPECT_EQ(groups[0].id, group.id);
    EXPECT_EQ(groups[0].urls(), (std::vector{velmor::URL::fileURL("/r/b"), velmor::URL::fileURL("/r/a")}));
    EXPECT_EQ(groups[0].items[0].metadata.st_size, 3);
    EXPECT_TRUE(groups[0].items[0].hasDeletePermission);
    EXPECT_FALSE(groups[0].items[1].hasDeletePermission);
}

TEST(DuplicateFinderResult, CodingRoundTripsAndWritesTheMapAsAlternatingKeysAndGroups) {
    DuplicateFinderResult result = resultOf({{5, 5}, {7, 7, 7}});
    result.errors.push_back(ProcessingError{velmor::Error::posix(EACCES), "/r/locked"});
    result.cancelled = true;
    result.isLastResult = true;

    const velmor::coding::Value encoded = velmor::coding::encode(result);
    const auto& list =
        *encoded.get<velmor::coding::Object>()->find("duplicatesByHash")->get<velmor::coding::Array>();
    ASSERT_EQ(list.size(), 4U);
    EXPECT_TRUE(velmor::UUID::fromString(*list[0].get<std::string>()).has_value());

    const auto decoded = velmor::coding::decode<DuplicateFinderResult>(encoded);
    EXPECT_EQ(decoded.duplicatesByHash, result.duplicatesByHash);
    ASSERT_EQ(decoded.errors.size(), 1U);
    EXPECT_EQ(decoded.errors[0].path, "/r/locked");
    EXPECT_TRUE(decoded.cancelled);
    EXPECT_TRUE(decoded.isLastResult);
}

// Names need not be UTF-8 on Linux: such a path is written as its file URL text, the others as
// they stand, and each reads back to the same bytes in every format.
TEST(DuplicateFinderResult, PathsThatAreNotUTF8RoundTripThroughJSONAndPropertyLists) {
    DuplicateFinderResult result;
    pipeline::DuplicateGroup group{velmor::UUID::random(), {}};
    for (const char* path : {"/r/caf\xE9", "/r/plain name", "/r/\xFF\xFE/dir/", "/r/100%"}) {
        group.items.append(itemOfSize(path, 3));
    }
    result.duplicatesByHash.emplace(group.id, group);
    result.errors.push_back(ProcessingError{velmor::Error::posix(EACCES), "/r/locked\x80"});
    result.errors.push_back(ProcessingError{velmor::Error::posix(EIO), "/r/file:no URL"});

    const std::string json = velmor::coding::toJSON(velmor::coding::encode(result));
    EXPECT_NE(json.find("\"path\":\"/r/plain name\""), std::string::npos) << json;
    EXPECT_NE(json.find("\"path\":\"file:///r/caf%E9\""), std::string::npos) << json;
    const std::string plist = velmor::coding::toBinaryPropertyList(velmor::coding::encode(result));
    for (const velmor::coding::Value& encoded :
         {velmor::coding::fromJSON(json), velmor::coding::fromPropertyList(plist)}) {
        const auto decoded = velmor::coding::decode<DuplicateFinderResult>(encoded);
        ASSERT_EQ(decoded.duplicatesByHash.size(), 1U);
        std::vector<std::string> paths;
        for (const auto& item : decoded.duplicatesByHash.begin()->second.items) {
            paths.push_back(item.path);
        }
        EXPECT_EQ(paths,
                  (std::vector<std::string>{"/r/caf\xE9", "/r/plain name", "/r/\xFF\xFE/dir/", "/r/100%"}));
        ASSERT_EQ(decoded.errors.size(), 2U);
        EXPECT_EQ(decoded.errors[0].path, "/r/locked\x80");
        EXPECT_EQ(decoded.errors[1].path, "/r/file:no URL");
    }
}

TEST(DuplicateFinderResult, DecodingNeedsEveryKey) {
    using velmor::coding::Object;
    const Object complete{{"duplicatesByHash", velmor::coding::Array{}},
                          {"errors", velmor::coding::Array{}},
                          {"cancelled", false},
                          {"isLastResult", true}};
    const auto decoded = velmor::coding::decode<DuplicateFinderResult>(complete);
    EXPECT_TRUE(decoded.duplicatesByHash.empty());
    EXPECT_TRUE(decoded.isLastResult);

    for (const char* missing : {"duplicatesByHash", "errors", "cancelled", "isLastResult"}) {
        SCOPED_TRACE(missing);
        Object partial;
        for (const auto& [key, value] : complete) {
            if (key != missing) {
                partial.set(key, value);
            }
        }
        EXPECT_THROW(velmor::coding::decode<DuplicateFinderResult>(partial), DecodingError);
    }
    Object oddList = complete;
    oddList.set("duplicatesByHash", velmor::coding::Array{velmor::UUID::random().uuidString()});
    EXPECT_THROW(velmor::coding::decode<DuplicateFinderResult>(oddList), DecodingError);
}

TEST(DuplicateFinderSettings, CodingRoundTripsAndNeedsEveryKey) {
    const DuplicateFinderSettings settings(true, false, true, {"node_modules", ".git"});
    const velmor::coding::Value encoded = velmor::coding::encode(settings);
    std::vector<std::string> keys;
    for (const auto& [key, value] : *encoded.get<velmor::coding::Object>()) {
        keys.push_back(key);
    }
    EXPECT_EQ(keys, (std::vector<std::string>{"skipHiddenFiles", "skipHiddenFolders", "skipSystemFolders",
                                              "patternsToSkip"}));
    EXPECT_EQ(velmor::coding::decode<DuplicateFinderSettings>(encoded), settings);

    velmor::coding::Object withoutPatterns{
        {"skipHiddenFiles", true}, {"skipHiddenFolders", false}, {"skipSystemFolders", true}};
    EXPECT_THROW(velmor::coding::decode<DuplicateFinderSettings>(withoutPatterns), DecodingError);
    velmor::coding::Object wrongType = withoutPatterns;
    wrongType.set("patternsToSkip", "node_modules");
    EXPECT_THROW(velmor::coding::decode<DuplicateFinderSettings>(wrongType), DecodingError);
}

} // namespace
} // namespace sweepkit
