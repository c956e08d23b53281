#include "app/model/definitions/EncodableFileMatchingCriterion.hpp"

#include "platform/coding/JSON.hpp"
#include "platform/coding/PropertyList.hpp"

#include <gtest/gtest.h>

namespace marrowdale {
namespace {

using Criterion = EncodableFileMatchingCriterion;
using Kind = Criterion::Kind;
using namespace velmor::coding;

Criterion decodeXML(const std::string& body) {
    return decode<Criterion>(fromPropertyList(
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?><plist version=\"1.0\">" + body + "</plist>"));
}

void expectInvalidKeyCount(const std::string& body) {
    try {
        decodeXML(body);
        ADD_FAILURE() << body;
    } catch (const DecodingError& error) {
        EXPECT_EQ(error.kind(), DecodingError::Kind::typeMismatch) << body;
        EXPECT_EQ(error.debugDescription(), "Invalid number of keys found, expected one.") << body;
    }
}

TEST(EncodableFileMatchingCriterion, DecodesTheOneKeyShapeFromAPropertyList) {
    Criterion tree = decodeXML(R"(<dict><key>and</key><dict><key>subcriteria</key><array>
        <dict><key>fileSizeGreater</key><dict><key>than</key><integer>1000000</integer></dict></dict>
        <dict><key>not</key><dict><key>subcriterion</key>
            <dict><key>fileCaseInsensitiveExtension</key><dict><key>is</key><string>log</string></dict></dict>
        </dict></dict>
        <dict><key>fileModifiedBefore</key><dict><key>date</key><date>2001-01-02T00:00:00Z</date></dict></dict>
        <dict><key>fileNotOpenedInLast</key><dict><key>seconds</key><real>3600</real></dict></dict>
        <dict><key>fileIsDeletable</key><dict/><key>comment</key><string>ignored</string></dict>
    </array></dict></dict>)");
    Criterion expected = Criterion::and_({
        Criterion::withSize(Kind::fileSizeGreater, 1000000),
        Criterion::not_(Criterion::fileCaseInsensitiveExtension("log")),
        Criterion::withDate(Kind::fileModifiedBefore, Date{86400}),
        Criterion::withSeconds(Kind::fileNotOpenedInLast, 3600),
        Criterion::fileIsDeletable(),
    });
    EXPECT_EQ(tree, expected);
    EXPECT_EQ(tree.hash(), expected.hash());
}

TEST(EncodableFileMatchingCriterion, RejectsMalformedNodes) {
    expectInvalidKeyCount("<dict/>");
    expectInvalidKeyCount("<dict><key>comment</key><string>x</string></dict>");
    expectInvalidKeyCount("<dict><key>fileIsDeletable</key><dict/><key>or</key><dict/></dict>");
    // Deep inside a tree the same rule holds, and fails the whole tree.
    expectInvalidKeyCount("<dict><key>not</key><dict><key>subcriterion</key><dict/></dict></dict>");

    for (const char* body : {
             "<dict><key>fileIsDeletable</key><string>yes</string></dict>",
             "<dict><key>fileIsDeletable</key><integer>1</integer></dict>",
             "<dict><key>fileSizeLower</key><dict><key>to</key><integer>1</integer></dict></dict>",
             "<dict><key>fileSizeLower</key><dict><key>than</key><string>1</string></dict></dict>",
             "<dict><key>fileCaseInsensitiveName</key><dict><key>contains</key><integer>3</integer></dict></"
             "dict>",
         }) {
        EXPECT_THROW(decodeXML(body), DecodingError) << body;
    }
}

TEST(EncodableFileMatchingCriterion, HostileNumbersAndNestingAreDecodingErrors) {
    struct Case {
        std::string body;
        std::string description; // empty: any message
    };
    const std::string doesNotFit = "Parsed number does not fit in the expected integer type.";
    auto size = [](const std::string& number) {
        return "<dict><key>fileSizeGreater</key><dict><key>than</key>" + number + "</dict></dict>";
    };
    auto seconds = [](const std::string& number) {
        return "<dict><key>latestDateNotInLast</key><dict><key>seconds</key>" + number + "</dict></dict>";
    };
    std::string deep2000;
    std::string deep5000;
    for (int level = 0; level < 5000; ++level) {
        (level < 2000 ? deep2000 : deep5000) += "<dict><key>not</key><dict><key>subcriterion</key>";
    }
    const std::string leaf = "<dict><key>fileIsDeletable</key><dict/></dict>";
    auto closed = [&](std::string open, int levels) {
        open += leaf;
        for (int level = 0; level < levels; ++level) {
            open += "</dict></dict>";
        }
        return open;
    };
    const Case cases[] = {
        {size("<integer>18446744073709551615</integer>"), doesNotFit},
        {size("<integer>99999999999999999999</integer>"), doesNotFit},
        {size("<integer></integer>"), ""},
        {size("<integer>1e3</integer>"), ""},
        {seconds("<real>nan</real>"), "Expected a number of seconds but found NaN."},
        {closed(deep2000, 2000), "The data is nested more than 512 levels deep."},
        {closed(deep2000 + deep5000, 5000), "The data is nested more than 512 levels deep."},
    };
    for (const auto& c : cases) {
        try {
            decodeXML(c.body);
            ADD_FAILURE() << c.body.substr(0, 200);
        } catch (const DecodingError& error) {
            EXPECT_EQ(error.kind(), DecodingError::Kind::dataCorrupted) << c.body.substr(0, 200);
            EXPECT_FALSE(error.codingPath().empty()) << c.body.substr(0, 200);
            if (!c.description.empty()) {
                EXPECT_EQ(error.debugDescription(), c.description) << c.body.substr(0, 200);
            }
        }
    }
    // Numbers that fit stay what they say.
    EXPECT_EQ(decodeXML(size("<integer>9223372036854775807</integer>")),
              Criterion::withSize(Kind::fileSizeGreater, 9223372036854775807));
    EXPECT_EQ(decodeXML(seconds("<real>1e300</real>")),
              Criterion::withSeconds(Kind::latestDateNotInLast, 1e300));
}

TEST(EncodableFileMatchingCriterion, Descriptions) {
    struct Case {
        Criterion criterion;
        const char* text;
    };
    const Case cases[] = {
        {Criterion::fileIsDeletable(), "Can delete"},
        {Criterion::fileCaseInsensitiveName("*cache*"), "Filename contains '*cache*'"},
        {Criterion::fileCaseInsensitiveExtension("log"), "Extensions is 'log'"},
        {Criterion::withSeconds(Kind::fileNotModifiedInLast, 3600), "Modified < 3600.0 sec"},
        {Criterion::withSeconds(Kind::fileNotOpenedInLast, 60), "Opened < 60.0sec"},
        {Criterion::withSeconds(Kind::fileNotCreatedInLast, 1.5), "Created < 1.5 sec"},
        {Criterion::withSeconds(Kind::fileAddedBefore, 10), "Added more than 10.0 sec ago"},
        {Criterion::withSeconds(Kind::latestDateNotInLast, 7), "Latest date is more than 7.0 sec ago"},
        {Criterion::withSize(Kind::fileSizeLower, 0), "FileSize < Zero KB"},
        {Criterion::withSize(Kind::fileSizeGreater, 1500000), "FileSize > 1.5 MB"},
        {Criterion::withSize(Kind::fileSizeEqual, 1), "FileSize = 1 byte"},
        {Criterion::and_({}), "()"},
        {Criterion::or_({}), "()"},
        {Criterion::not_(
             Criterion::and_({Criterion::fileIsDeletable(), Criterion::fileCaseInsensitiveName("a")})),
         "Not (Can delete AND Filename contains 'a')"},
        {Criterion::or_({Criterion::fileIsDeletable(), Criterion::fileIsDeletable()}),
         "(Can delete OR Can delete)"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.criterion.description(), c.text);
    }
    EXPECT_EQ(Criterion::withDate(Kind::fileOpenedAfter, Date{0}).description().rfind("Opened > ", 0), 0u);
}

TEST(EncodableFileMatchingCriterion, RoundTripsWithEqualHashes) {
    Criterion tree = Criterion::or_({
        Criterion::and_(
            {Criterion::withSize(Kind::fileSizeLower, 10), Criterion::withSize(Kind::fileSizeEqual, -1)}),
        Criterion::not_(Criterion::withSeconds(Kind::fileNotCreatedInLast, 86400)),
        Criterion::fileCaseInsensitiveName("Thumbs.db"),
        Criterion::fileCaseInsensitiveExtension("TMP"),
        Criterion::withDate(Kind::fileCreatedAfter, Date{12345.5}),
    });
    Criterion again = decode<Criterion>(fromJSON(toJSON(encode(tree))));
    EXPECT_EQ(again, tree);
    EXPECT_EQ(again.hash(), tree.hash());
    EXPECT_EQ(toJSON(encode(Criterion::fileIsDeletable())), R"({"fileIsDeletable":{}})");
    EXPECT_EQ(toJSON(encode(Criterion::not_(Criterion::withSize(Kind::fileSizeGreater, 5)))),
              R"({"not":{"subcriterion":{"fileSizeGreater":{"than":5}}}})");

    EXPECT_NE(tree, Criterion::or_({}));
    EXPECT_NE(Criterion::withSize(Kind::fileSizeLower, 10), Criterion::withSize(Kind::fileSizeGreater, 10));
    EXPECT_NE(Criterion::fileCaseInsensitiveName("a"), Criterion::fileCaseInsensitiveExtension("a"));
}

} // namespace
} // namespace marrowdale
