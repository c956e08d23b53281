#include "app/model/definitions/FileFinderCategory.hpp"

#include "platform/coding/JSON.hpp"

#include <gtest/gtest.h>

namespace marrowdale {
namespace {

using namespace velmor::coding;
using Engine = FileFinderCategory::Engine;

FileFinderCategory sample() {
    return FileFinderCategory{"caches",
                              FileFinderCategory::CategoryType::junk,
                              {"~/.cache", "/tmp/x"},
                              false,
                              EncodableFileMatchingCriterion::fileIsDeletable(),
                              {Engine::fileTraversal}};
}

TEST(FileFinderCategory, EncodesAllSixKeysInOrderAndRoundTrips) {
    Value encoded = encode(sample());
    EXPECT_EQ(toJSON(encoded), R"({"id":"caches","type":"junk","paths":["~/.cache","/tmp/x"],)"
                               R"("deleteEmptyFolders":false,"conditions":{"fileIsDeletable":{}},)"
                               R"("engines":[{"fileTraversal":{}}]})");
    FileFinderCategory again = decode<FileFinderCategory>(encoded);
    EXPECT_EQ(again, sample());
    EXPECT_EQ(again.hash(), sample().hash());
}

TEST(FileFinderCategory, EnginesDefaultWhenAbsentAndStayEmptyWhenEmpty) {
    Object object = *encode(sample()).get<Object>();
    Object withoutEngines;
    for (const auto& [key, value] : object) {
        if (key != "engines") {
            withoutEngines.set(key, value);
        }
    }
    EXPECT_EQ(decode<FileFinderCategory>(Value(withoutEngines)).engines,
              (std::vector<Engine>{Engine::spotlight, Engine::fileTraversal}));
    object.set("engines", Array{});
    EXPECT_TRUE(decode<FileFinderCategory>(Value(object)).engines.empty());
    object.set("engines", Array{Object{{"spotlight", Object{}}}, Object{{"fileTraversal", Object{}}}});
    object.set("somethingElse", 3);
    EXPECT_EQ(decode<FileFinderCategory>(Value(object)).engines,
              (std::vector<Engine>{Engine::spotlight, Engine::fileTraversal}));
}

TEST(FileFinderCategory, RejectsBadTypesAndEngines) {
    Object object = *encode(sample()).get<Object>();
    object.set("type", "Junk");
    try {
        decode<FileFinderCategory>(Value(object));
        ADD_FAILURE();
    } catch (const DecodingError& error) {
        EXPECT_EQ(error.kind(), DecodingError::Kind::dataCorrupted);
    }
    object.set("type", "custom");
    object.set("engines", Array{Object{{"spotlight", Object{}}, {"fileTraversal", Object{}}}});
    try {
        decode<FileFinderCategory>(Value(object));
        ADD_FAILURE();
    } catch (const DecodingError& error) {
        EXPECT_EQ(error.debugDescription(), "Invalid number of keys found, expected one.");
    }
    object.set("engines", Array{Object{{"spotlight", "yes"}}});
    EXPECT_THROW(decode<FileFinderCategory>(Value(object)), DecodingError);
}

TEST(FileFinderCategory, EqualityCoversEveryField) {
    FileFinderCategory other = sample();
    other.deleteEmptyFolders = true;
    EXPECT_NE(other, sample());
    other = sample();
    other.engines = {Engine::spotlight};
    EXPECT_NE(other, sample());
    other = sample();
    other.paths.pop_back();
    EXPECT_NE(other, sample());
    other = sample();
    other.conditions = EncodableFileMatchingCriterion::fileCaseInsensitiveName("a");
    EXPECT_NE(other, sample());
}

} // namespace
} // namespace marrowdale
