#include "platform/coding/JSON.hpp"
#include "platform/fs/URLCoding.hpp"
#include "sdk/finder/records/FileSystemNode.hpp"
#include "sdk/finder/records/ProcessingError.hpp"
#include "sdk/finder/records/StatCoding.hpp"

#include <gtest/gtest.h>

namespace sweepkit {
namespace {

using namespace velmor::coding;
using velmor::URL;

velmor::Stat sampleStat() {
    velmor::Stat stat;
    stat.st_dev = -2;
    stat.st_mode = 0100644;
    stat.st_nlink = 3;
    stat.st_ino = 18446744073709551615ull;
    stat.st_uid = 501;
    stat.st_gid = 20;
    stat.st_rdev = 7;
    stat.st_atimespec = {1, 2};
    stat.st_mtimespec = {3, 4};
    stat.st_ctimespec = {5, 6};
    stat.st_birthtimespec = {7, 8};
    stat.st_size = 12345;
    stat.st_blocks = 24;
    stat.st_blksize = 4096;
    stat.st_flags = 9;
    stat.st_gen = 10;
    stat.st_lspare = -11;
    stat.st_qspare = {12, -13};
    return stat;
}

TEST(RecordCoding, StatUsesItsNineteenFieldNames) {
    Value encoded = encode(sampleStat());
    std::vector<std::string> keys;
    for (const auto& [key, value] : *encoded.get<Object>()) {
        keys.push_back(key);
    }
    EXPECT_EQ(keys,
              (std::vector<std::string>{"st_dev", "st_mode", "st_nlink", "st_ino", "st_uid", "st_gid",
                                        "st_rdev", "st_atimespec", "st_mtimespec", "st_ctimespec",
                                        "st_birthtimespec", "st_size", "st_blocks", "st_blksize", "st_flags",
                                        "st_gen", "st_lspare", "st_qspare0", "st_qspare1"}));
    EXPECT_EQ(*encoded.get<Object>()->find("st_mtimespec"), Value(Object{{"tv_sec", 3}, {"tv_nsec", 4}}));
    EXPECT_EQ(*encoded.get<Object>()->find("st_qspare1"), Value(-13));
    EXPECT_EQ(decode<velmor::Stat>(fromJSON(toJSON(encoded))), sampleStat());
}

TEST(RecordCoding, StatFieldsAreCheckedAgainstTheirTypes) {
    Value encoded = encode(sampleStat());
    Object object = *encoded.get<Object>();
    object.set("st_mode", 70000); // does not fit 16 bits
    EXPECT_THROW(decode<velmor::Stat>(Value(object)), DecodingError);
}

TEST(RecordCoding, ItemAndNodeKeys) {
    FileSystemItem item{URL::fileURL("/r/a b"), sampleStat(), true};
    auto node = FileSystemNode::folder(URL::fileURL("/r"), 4096, {FileSystemNode::item(item)});
    Value encoded = encode(node);

    const Object& folder = *encoded.get<Object>()->find("folder")->get<Object>();
    ASSERT_EQ(folder.size(), 3u);
    EXPECT_EQ(*folder.find("_0"), Value(Object{{"relative", "file:///r"}}));
    EXPECT_EQ(*folder.find("contentSize"), Value(4096));
    const Object& child = *folder.find("_2")->get<Array>()->at(0).get<Object>()->find("item")->get<Object>();
    const Object& itemObject = *child.find("_0")->get<Object>();
    ASSERT_EQ(itemObject.size(), 3u);
    EXPECT_EQ(*itemObject.find("url"), Value(Object{{"relative", "file:///r/a%20b"}}));
    EXPECT_TRUE(itemObject.contains("metadata"));
    EXPECT_EQ(*itemObject.find("hasDeletePermission"), Value(true));

    FileSystemNode decoded = decode<FileSystemNode>(fromJSON(toJSON(encoded)));
    EXPECT_EQ(decoded, node);
    EXPECT_EQ(decoded.allItems().at(0).metadata, sampleStat());
    EXPECT_EQ(decoded.hash(), node.hash());
}

TEST(RecordCoding, NodeNeedsExactlyOneCaseKey) {
    const char* texts[] = {
        R"({})",
        R"({"item": {}, "folder": {}})",
        R"({"somethingElse": {}})",
    };
    for (const char* text : texts) {
        try {
            decode<FileSystemNode>(fromJSON(text));
            ADD_FAILURE() << text;
        } catch (const DecodingError& error) {
            EXPECT_EQ(error.kind(), DecodingError::Kind::typeMismatch) << text;
            EXPECT_EQ(error.debugDescription(), "Invalid number of keys found, expected one.") << text;
        }
    }
}

TEST(RecordCoding, ProcessingErrorKeepsDomainCodeAndPathOnly) {
    velmor::Error posix("NSPOSIXErrorDomain", EACCES,
                        {{velmor::Error::localizedDescriptionKey, std::string("lost in coding")}});
    ProcessingError error{posix, "/r/locked"};
    Value encoded = encode(error);
    EXPECT_EQ(
        encoded,
        Value(Object{{"errorCode", EACCES}, {"errorDomain", "NSPOSIXErrorDomain"}, {"path", "/r/locked"}}));
    ProcessingError decoded = decode<ProcessingError>(fromJSON(toJSON(encoded)));
    EXPECT_EQ(decoded.error, velmor::Error::posix(EACCES));
    EXPECT_TRUE(decoded.error.userInfo().empty());
    EXPECT_EQ(decoded.path, "/r/locked");
}

} // namespace
} // namespace sweepkit
