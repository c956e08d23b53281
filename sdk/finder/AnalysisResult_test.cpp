#include "sdk/finder/AnalysisResult.hpp"
#include "sdk/finder/FileFinderEngine.hpp"

#include "platform/coding/JSON.hpp"

#include <gtest/gtest.h>

namespace sweepkit {
namespace {

using velmor::URL;
namespace coding = velmor::coding;

FileSystemItem item(const std::string& path, std::int64_t size = 0) {
    velmor::Stat stat;
    stat.st_size = size;
    return FileSystemItem{URL::fileURL(path), stat, true};
}

TEST(AnalysisResult, FlattenedItemsFollowTheNodesInWalkOrder) {
    AnalysisResult result;
    result.nodes = {
        FileSystemNode::folder(URL::fileURL("/d"), 8192,
                               {FileSystemNode::item(item("/d/a")),
                                FileSystemNode::folder(URL::fileURL("/d/e"), 0, {}),
                                FileSystemNode::item(item("/d/b"))}),
        FileSystemNode::item(item("/c")),
    };
    result.errors = {ProcessingError{velmor::Error::posix(EACCES), "/x"}};
    auto items = result.flattenedItems();
    ASSERT_EQ(items.size(), 3u);
    EXPECT_EQ(items[0].url.path(), "/d/a");
    EXPECT_EQ(items[1].url.path(), "/d/b");
    EXPECT_EQ(items[2].url.path(), "/c");
    EXPECT_TRUE(AnalysisResult{}.flattenedItems().empty());
}

TEST(AnalysisResult, CodesUnderItsFieldNames) {
    AnalysisResult result;
    result.nodes = {FileSystemNode::item(item("/c", 5))};
    result.errors = {ProcessingError{velmor::Error::posix(EACCES), "/x"}};
    result.isLastResult = true;
    auto value = coding::encode(result);
    auto* object = value.get<coding::Object>();
    ASSERT_NE(object, nullptr);
    std::vector<std::string> keys;
    for (const auto& [key, nested] : *object) {
        keys.push_back(key);
    }
    EXPECT_EQ(keys, (std::vector<std::string>{"nodes", "errors", "isLastResult", "cancelled"}));

    auto decoded = coding::decode<AnalysisResult>(coding::fromJSON(coding::toJSON(value)));
    EXPECT_EQ(decoded.nodes, result.nodes);
    EXPECT_EQ(decoded.nodes[0].asItem()->metadata.st_size, 5);
    ASSERT_EQ(decoded.errors.size(), 1u);
    EXPECT_EQ(decoded.errors[0].error, velmor::Error::posix(EACCES));
    EXPECT_EQ(decoded.errors[0].path, "/x");
    EXPECT_TRUE(decoded.isLastResult);
    EXPECT_FALSE(decoded.cancelled);
}

TEST(FileFinderEngine, CodesAsItsCaseNameOverAnEmptyDictionary) {
    EXPECT_EQ(allFileFinderEngines[0], FileFinderEngine::fileSystemTraversal);
    EXPECT_EQ(allFileFinderEngines[1], FileFinderEngine::spotlight);
    std::vector<FileFinderEngine> engines = {
        FileFinderEngine::spotlight, FileFinderEngine::fileSystemTraversal, FileFinderEngine::spotlight};
    auto value = coding::encode(engines);
    EXPECT_EQ(coding::toJSON(value), R"([{"spotlight":{}},{"fileSystemTraversal":{}},{"spotlight":{}}])");
    EXPECT_EQ(coding::decode<std::vector<FileFinderEngine>>(value), engines);
    EXPECT_EQ(coding::decode<FileFinderEngine>(
                  coding::Object{{"fileSystemTraversal", coding::Object{}}, {"unknown", 1}}),
              FileFinderEngine::fileSystemTraversal);
}

TEST(FileFinderEngine, DecodingNeedsExactlyOneCaseName) {
    const coding::Value invalid[] = {
        coding::Object{},
        coding::Object{{"fast", coding::Object{}}},
        coding::Object{{"spotlight", coding::Object{}}, {"fileSystemTraversal", coding::Object{}}},
    };
    for (const auto& value : invalid) {
        try {
            coding::decode<FileFinderEngine>(value);
            ADD_FAILURE() << coding::toJSON(value);
        } catch (const coding::DecodingError& error) {
            EXPECT_EQ(error.kind(), coding::DecodingError::Kind::typeMismatch);
            EXPECT_EQ(error.debugDescription(), "Invalid number of keys found, expected one.");
        }
    }
}

} // namespace
} // namespace sweepkit
