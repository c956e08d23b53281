#include "platform/coding/JSON.hpp"
#include "platform/testing/TemporaryDirectory.hpp"
#include "platform/uuid/UUIDCoding.hpp"
#include "sdk/duplicates/pipeline/DuplicateGroup.hpp"
#include "sdk/duplicates/pipeline/DuplicateProcessorResult.hpp"
#include "sdk/finder/records/StatCoding.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <unordered_set>

namespace sweepkit::pipeline {
namespace {

using namespace velmor::coding;
using velmor::Stat;
using velmor::URL;

Stat statOfSize(std::int64_t size) {
    Stat stat;
    stat.st_mode = 0100644;
    stat.st_ino = 77;
    stat.st_size = size;
    stat.st_mtimespec = {1700000000, 5};
    stat.st_flags = 0x8000;
    return stat;
}

std::vector<std::string> keysOf(const Value& value) {
    std::vector<std::string> keys;
    for (const auto& [key, _] : *value.get<Object>()) {
        keys.push_back(key);
    }
    return keys;
}

TEST(PipelineRecords, ItemIsTheSameItemByPathAlone) {
    FileSystemItem first{"/r/a", statOfSize(10), true};
    FileSystemItem samePath{"/r/a", statOfSize(99), false};
    FileSystemItem other{"/r/b", statOfSize(10), true};
    EXPECT_EQ(first, samePath);
    EXPECT_EQ(std::hash<FileSystemItem>{}(first), std::hash<FileSystemItem>{}(samePath));
    EXPECT_NE(first, other);

    std::unordered_set<FileSystemItem> items;
    EXPECT_TRUE(items.insert(first).second);
    EXPECT_FALSE(items.insert(samePath).second);
    EXPECT_TRUE(items.insert(other).second);
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items.find(samePath)->metadata.st_size, 10); // the first one stays
    EXPECT_TRUE(items.find(samePath)->hasDeletePermission);
}

TEST(PipelineRecords, ItemCodingKeepsItsKeysAndEveryField) {
    FileSystemItem item{"/r/caf\xC3\xA9 x", statOfSize(4096), true};
    Value encoded = encode(item);
    EXPECT_EQ(keysOf(encoded), (std::vector<std::string>{"path", "metadata", "hasDeletePermission"}));
    EXPECT_EQ(*encoded.get<Object>()->find("path"), Value("/r/caf\xC3\xA9 x"));
    EXPECT_EQ(*encoded.get<Object>()->find("metadata"), encode(item.metadata));

    auto decoded = decode<FileSystemItem>(fromJSON(toJSON(encoded)));
    EXPECT_EQ(decoded.path, item.path);
    EXPECT_EQ(decoded.metadata, item.metadata);
    EXPECT_TRUE(decoded.hasDeletePermission);

    for (const char* key : {"path", "metadata", "hasDeletePermission"}) {
        Object missing;
        for (const auto& [name, value] : *encoded.get<Object>()) {
            if (name != key) {
                missing.set(name, value);
            }
        }
        try {
            decode<FileSystemItem>(Value(missing));
            ADD_FAILURE() << "decoded without " << key;
        } catch (const DecodingError& error) {
            EXPECT_EQ(error.kind(), DecodingError::Kind::keyNotFound) << key;
        }
    }
}

TEST(PipelineRecords, GroupCodingRoundTrip) {
    auto id = velmor::UUID::random();
    DuplicateGroup group{id, {FileSystemItem{"/r/a", statOfSize(5), true}, {"/s/a", statOfSize(5), false}}};
    Value encoded = encode(group);
    EXPECT_EQ(keysOf(encoded), (std::vector<std::string>{"id", "items"}));
    EXPECT_EQ(*encoded.get<Object>()->find("id"), Value(id.uuidString()));
    ASSERT_EQ(encoded.get<Object>()->find("items")->get<Array>()->size(), 2u);

    auto decoded = decode<DuplicateGroup>(fromJSON(toJSON(encoded)));
    EXPECT_EQ(decoded, group);
    ASSERT_EQ(decoded.items.size(), 2u);
    EXPECT_EQ(decoded.items[1].path, "/s/a");
    EXPECT_EQ(decoded.items[1].metadata, statOfSize(5));
    EXPECT_FALSE(decoded.items[1].hasDeletePermission);

    EXPECT_EQ(decode<DuplicateGroup>(fromJSON(toJSON(encode(DuplicateGroup{id, {}})))).items.size(), 0u);
    EXPECT_THROW(decode<DuplicateGroup>(fromJSON(R"({"id": "nope", "items": []})")), DecodingError);
    EXPECT_THROW(decode<DuplicateGroup>(fromJSON(R"({"items": []})")), DecodingError);
}

TEST(PipelineRecords, ItemFromURLReadsTheEntryItself) {
    velmor::testing::TemporaryDirectory directory;
    std::string file = directory.writeFile("file", "twelve bytes");
    std::string link = directory / "link";
    std::filesystem::create_symlink(file, link);

    FileSystemItem fromFile(URL::fileURL(file), true);
    EXPECT_EQ(fromFile.path, file);
    EXPECT_EQ(fromFile.metadata.st_size, 12);
    EXPECT_TRUE(S_ISREG(fromFile.metadata.st_mode));
    EXPECT_TRUE(fromFile.hasDeletePermission);

    FileSystemItem fromLink(URL::fileURL(link), false);
    EXPECT_TRUE(S_ISLNK(fromLink.metadata.st_mode));
    EXPECT_FALSE(fromLink.hasDeletePermission);

    FileSystemItem folder(URL::fileURL(directory.path() + "/"), true);
    EXPECT_EQ(folder.path, directory.path()); // the trailing slash goes

    FileSystemItem missing(URL::fileURL(directory / "missing"), true);
    EXPECT_EQ(missing.path, directory / "missing");
    EXPECT_EQ(missing.metadata, Stat());
    EXPECT_TRUE(missing.hasDeletePermission);
}

TEST(PipelineRecords, ItemFromEventOnlyForFilesAndEnteredFolders) {
    Stat stat = statOfSize(3);
    auto fromFile = FileSystemItem::fromEvent(Event::file("/r/f", stat, true));
    ASSERT_TRUE(fromFile);
    EXPECT_EQ(fromFile->path, "/r/f");
    EXPECT_EQ(fromFile->metadata, stat);
    EXPECT_TRUE(fromFile->hasDeletePermission);

    auto fromFolder = FileSystemItem::fromEvent(Event::enterDirectory("/r/X.app", stat, false));
    ASSERT_TRUE(fromFolder);
    EXPECT_EQ(fromFolder->path, "/r/X.app");
    EXPECT_FALSE(fromFolder->hasDeletePermission);

    EXPECT_FALSE(FileSystemItem::fromEvent(Event::symlink("/r/l", stat, true)));
    EXPECT_FALSE(FileSystemItem::fromEvent(Event::leaveDirectory("/r/X.app", stat)));
    EXPECT_FALSE(FileSystemItem::fromEvent(Event::fileError("/r/f", velmor::Error::posix(EACCES))));
}

TEST(PipelineRecords, ResultCasesAndWhetherTheyStopTheDescent) {
    DuplicateGroup group{velmor::UUID::random(), {FileSystemItem{"/r/a", Stat(), true}}};
    struct Case {
        DuplicateProcessorResult result;
        DuplicateProcessorResult::Kind kind;
        bool skipsFolder;
    };
    const Case cases[] = {
        {DuplicateProcessorResult::duplicate(group, false), DuplicateProcessorResult::Kind::duplicate, false},
        {DuplicateProcessorResult::duplicate(group, true), DuplicateProcessorResult::Kind::duplicate, true},
        {DuplicateProcessorResult::error(velmor::Error::posix(EIO)), DuplicateProcessorResult::Kind::error,
         false},
        {DuplicateProcessorResult::notDuplicate(), DuplicateProcessorResult::Kind::notDuplicate, false},
        {DuplicateProcessorResult::skipFolder(), DuplicateProcessorResult::Kind::skipFolder, true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.result.kind(), c.kind);
        EXPECT_EQ(c.result.skipsFolder(), c.skipsFolder) << static_cast<int>(c.kind);
        EXPECT_EQ(c.result.group() != nullptr, c.kind == DuplicateProcessorResult::Kind::duplicate);
        EXPECT_EQ(c.result.error() != nullptr, c.kind == DuplicateProcessorResult::Kind::error);
    }
    EXPECT_EQ(*cases[0].result.group(), group);
    EXPECT_EQ(*cases[2].result.error(), velmor::Error::posix(EIO));
}

} // namespace
} // namespace sweepkit::pipeline
