#include "platform/coding/PropertyList.hpp"

#include "platform/coding/Decoding.hpp"
#include "platform/testing/CountedAllocations.hpp"
#include "platform/testing/HostilePropertyLists.hpp"

#include <gtest/gtest.h>
#include <plist/plist.h>

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <dlfcn.h>
#include <limits>
#include <new>
#include <optional>

// What a read costs is counted, not timed: the bytes this test binary allocates, and the library's
// look-ups of an array's item by its index, which stand for a walk over the items before it.
namespace {
std::atomic<std::size_t> itemsFetchedByIndex{0};
} // namespace

extern "C" plist_t plist_array_get_item(plist_t node, uint32_t n) {
    using Fetch = plist_t (*)(plist_t, uint32_t);
    static const auto library = reinterpret_cast<Fetch>(::dlsym(RTLD_NEXT, "plist_array_get_item"));
    itemsFetchedByIndex.fetch_add(1, std::memory_order_relaxed);
    return library(node, n);
}

namespace velmor::coding {

TEST(PropertyList, ReadsEveryKindOfValueInOrder) {
    const char* xml = R"(<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">
<plist version="1.0">
<dict>
  <key>zeta</key><string>text</string>
  <key>alpha</key><array><integer>-5</integer><integer>42</integer><real>2.5</real><true/><false/></array>
  <key>when</key><date>2001-01-02T00:00:00Z</date>
  <key>bytes</key><data>YWJj</data>
  <key>nested</key><dict/>
</dict>
</plist>)";
    Value expected = Object{{"zeta", "text"},
                            {"alpha", Array{-5, 42, 2.5, true, false}},
                            {"when", Date{86400}},
                            {"bytes", Data{{'a', 'b', 'c'}}},
                            {"nested", Object{}}};
    EXPECT_EQ(fromPropertyList(xml), expected);
}

TEST(PropertyList, RejectsWhatIsNoPropertyList) {
    for (const char* text : {"", "not a plist", "<plist><dict><key>a</key></plist"}) {
        try {
            fromPropertyList(text);
            ADD_FAILURE() << text;
        } catch (const DecodingError& error) {
            EXPECT_EQ(error.kind(), DecodingError::Kind::dataCorrupted);
        }
    }
}

std::string plistHolding(const std::string& body) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">" + body + "</plist>";
}

TEST(PropertyList, IntegersAreWholeDecimalNumbersWithinSixtyFourBits) {
    struct Case {
        const char* text;
        std::optional<Value> value; // none: a reading error
    };
    const Case cases[] = {
        {"42", Value(42)},
        {" -5 ", Value(-5)},
        {"+7", Value(7)},
        {"-9223372036854775808", Value(std::numeric_limits<std::int64_t>::min())},
        {"18446744073709551615", Value(std::uint64_t{18446744073709551615ull})},
        {"18446744073709551616", std::nullopt},
        {"-9223372036854775809", std::nullopt},
        {"99999999999999999999999", std::nullopt},
        {"", std::nullopt},
        {"1e3", std::nullopt},
        {"0x10", std::nullopt},
        {"12abc", std::nullopt},
        {"-", std::nullopt},
    };
    for (const auto& c : cases) {
        const std::string xml =
            plistHolding(std::string("<dict><key>than</key><integer>") + c.text + "</integer></dict>");
        if (c.value) {
            EXPECT_EQ(fromPropertyList(xml), Value(Object{{"than", *c.value}})) << c.text;
            continue;
        }
        try {
            fromPropertyList(xml);
            ADD_FAILURE() << c.text;
        } catch (const DecodingError& error) {
            EXPECT_EQ(error.kind(), DecodingError::Kind::dataCorrupted) << c.text;
            EXPECT_EQ(error.codingPath(), (CodingPath{std::string("than")})) << c.text;
        }
    }
    // A number past the 64-bit range says so in the coding layer's own words.
    try {
        fromPropertyList(plistHolding("<array><integer>18446744073709551616</integer></array>"));
        ADD_FAILURE();
    } catch (const DecodingError& error) {
        EXPECT_EQ(error.debugDescription(), "Parsed number does not fit in the expected integer type.");
        EXPECT_EQ(error.codingPath(), (CodingPath{std::size_t{0}}));
    }
    // The largest unsigned value is kept, so a signed field refuses it instead of reading -1.
    try {
        decode<std::int64_t>(fromPropertyList(plistHolding("<integer>18446744073709551615</integer>")));
        ADD_FAILURE();
    } catch (const DecodingError& error) {
        EXPECT_EQ(error.debugDescription(), "Parsed number does not fit in the expected integer type.");
    }
}

TEST(PropertyList, RealsAreReadWhole) {
    EXPECT_EQ(fromPropertyList(plistHolding("<real>-1e3</real>")), Value(-1000.0));
    EXPECT_TRUE(std::isinf(*fromPropertyList(plistHolding("<real>inf</real>")).get<double>()));
    EXPECT_THROW(fromPropertyList(plistHolding("<real>2.5x</real>")), DecodingError);
    EXPECT_THROW(fromPropertyList(plistHolding("<real></real>")), DecodingError);
}

std::string nestedArrays(std::size_t depth) {
    std::string body;
    for (std::size_t level = 0; level < depth; ++level) {
        body += "<array>";
    }
    for (std::size_t level = 0; level < depth; ++level) {
        body += "</array>";
    }
    return plistHolding(body);
}

TEST(PropertyList, NestingUpToTheLimitIsRead) {
    Value expected = Array{};
    for (std::size_t level = 1; level < maximumNestingDepth; ++level) {
        expected = Array{expected};
    }
    EXPECT_EQ(fromPropertyList(nestedArrays(maximumNestingDepth)), expected);
}

TEST(PropertyList, NestingPastTheLimitIsAnError) {
    for (std::size_t depth : {maximumNestingDepth + 1, std::size_t{50000}}) {
        std::string body;
        for (std::size_t level = 0; level < depth; ++level) {
            body += "<array>";
        }
        for (std::size_t level = 0; level < depth; ++level) {
            body += "</array>";
        }
        try {
            fromPropertyList(plistHolding(body));
            ADD_FAILURE() << depth;
        } catch (const DecodingError& error) {
            EXPECT_EQ(error.kind(), DecodingError::Kind::dataCorrupted);
            EXPECT_EQ(error.debugDescription(), "The data is nested more than 512 levels deep.");
            EXPECT_EQ(error.codingPath().size(), maximumNestingDepth);
        }
    }
}

// `inner` within `levels` dictionaries, each under `key` followed by its level's number.
std::string underKeys(const std::string& key, int levels, const std::string& inner) {
    std::string body;
    for (int level = 0; level < levels; ++level) {
        body += "<dict><key>" + key + std::to_string(level) + "</key>";
    }
    body += inner;
    for (int level = 0; level < levels; ++level) {
        body += "</dict>";
    }
    return body;
}

TEST(PropertyList, AnErrorUnderLongKeysNamesAReadablePath) {
    // 40 dictionaries under 1 KiB keys, then a value that is no integer.
    const std::string longKey(1024, 'k');
    try {
        fromPropertyList(plistHolding(underKeys(longKey, 40, "<array><integer>1</integer><integer>x</integer></array>")));
        ADD_FAILURE();
    } catch (const DecodingError& error) {
        ASSERT_EQ(error.codingPath().size(), 41u);
        EXPECT_EQ(error.codingPath()[39], CodingKey(longKey + "39"));
        EXPECT_EQ(error.codingPath()[40], CodingKey(std::size_t{1}));
        const std::string what = error.what();
        EXPECT_LT(what.size(), 1024u) << what.size();
        EXPECT_TRUE(what.starts_with("dataCorrupted at " + longKey.substr(0, 16))) << what.substr(0, 100);
        EXPECT_NE(what.find(".Index 1: Expected an integer but found \"x\"."), std::string::npos) << what;
    }
}

TEST(PropertyList, AnErrorShowsOnlyTheStartOfALongText) {
    const std::string longText(100000, '9');
    for (const std::string element : {"integer", "real", "date"}) {
        SCOPED_TRACE(element);
        try {
            fromPropertyList(plistHolding("<" + element + ">x" + longText + "</" + element + ">"));
            ADD_FAILURE();
        } catch (const DecodingError& error) {
            const std::string what = error.what();
            EXPECT_LT(what.size(), 1024u) << what.size();
            EXPECT_NE(what.find("but found \"x999"), std::string::npos) << what.substr(0, 200);
        }
    }
}

TEST(PropertyList, AnXMLDocumentUnderManyLongKeysIsReadWithWorkInProportionToItsSize) {
    // 64 dictionaries under 8 KiB keys, then 4,000 integers: a reader that kept the path of every
    // value would copy half a MiB of keys for each of them, gigabytes in all.
    const std::string longKey(8192, 'k');
    std::string integers;
    for (int index = 0; index < 4000; ++index) {
        integers += "<integer>" + std::to_string(index) + "</integer>";
    }
    const std::string document = plistHolding(underKeys(longKey, 64, "<array>" + integers + "</array>"));
    const std::size_t allocatedBefore = velmor::testing::bytesAllocated.load();
    Value read = fromPropertyList(document);
    const std::size_t allocated = velmor::testing::bytesAllocated.load() - allocatedBefore;
    EXPECT_LT(allocated, 16 * document.size()) << "for a document of " << document.size() << " bytes";
    const Value* inner = &read;
    for (int level = 0; level < 64 && inner != nullptr; ++level) {
        const Object* object = inner->get<Object>();
        inner = object ? object->find(longKey + std::to_string(level)) : nullptr;
    }
    ASSERT_NE(inner, nullptr);
    const Array* array = inner->get<Array>();
    ASSERT_NE(array, nullptr);
    ASSERT_EQ(array->size(), 4000u);
    EXPECT_EQ(array->back(), Value(3999));
}

TEST(PropertyList, OnlyThePredefinedEntitiesAndCharacterReferencesAreRead) {
    EXPECT_EQ(fromPropertyList(plistHolding("<string>&amp;&lt;&gt;&quot;&apos;&#65;&#x42;</string>")),
              Value("&<>\"'AB"));
    const std::string publicType = "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
                                   "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">";
    const std::string cases[] = {
        // Declared in the document.
        "<!DOCTYPE plist [<!ENTITY a9 \"copyright\">]><plist><string>x&a9;y</string></plist>",
        // Declared, if anywhere, in an outside document type that is never fetched.
        publicType + "<plist><string>&a9;</string></plist>",
        // An outside file.
        "<!DOCTYPE plist [<!ENTITY outside SYSTEM \"file:///etc/hostname\">]>"
        "<plist><dict><key>k</key><string>&outside;</string></dict></plist>",
        // Between the elements and in a key.
        "<!DOCTYPE plist [<!ENTITY a9 \"x\">]><plist><array>&a9;</array></plist>",
        "<!DOCTYPE plist [<!ENTITY a9 \"x\">]><plist><dict><key>&a9;</key><true/></dict></plist>",
        // Not declared at all.
        "<plist><string>&a9;</string></plist>",
    };
    for (const std::string& xml : cases) {
        try {
            const Value value = fromPropertyList(xml);
            ADD_FAILURE() << xml << " read as "
                          << (value.get<std::string>() ? *value.get<std::string>() : "");
        } catch (const DecodingError& error) {
            EXPECT_EQ(error.kind(), DecodingError::Kind::dataCorrupted) << xml;
        }
    }
}

TEST(PropertyList, LargeDictionariesLoadWhole) {
    constexpr std::size_t count = 20000;
    std::string xml;
    Object expected;
    for (std::size_t position = 0; position < count; ++position) {
        const std::string key = "key-" + std::to_string(position);
        xml += "<key>" + key + "</key><integer>" + std::to_string(position) + "</integer>";
        expected.set(key, static_cast<std::int64_t>(position));
    }
    // A key given twice keeps its first place and takes the later value.
    xml += "<key>key-7</key><string>again</string>";
    expected.set("key-7", "again");
    const Value fromXML = fromPropertyList(plistHolding("<dict>" + xml + "</dict>"));
    ASSERT_EQ(fromXML, Value(expected));
    EXPECT_EQ(fromXML.get<Object>()->entries()[7].first, "key-7");
    const Value fromBinary = fromPropertyList(toBinaryPropertyList(expected));
    ASSERT_EQ(fromBinary, Value(expected));

    const Decoder decoder(fromBinary);
    for (std::size_t position = 0; position < count; position += 997) {
        if (position != 7) {
            EXPECT_EQ(decoder.decode<std::int64_t>("key-" + std::to_string(position)),
                      static_cast<std::int64_t>(position));
        }
    }
    EXPECT_EQ(decoder.decode<std::string>("key-7"), "again");
    EXPECT_FALSE(decoder.ifPresent("key-20000"));
}

TEST(PropertyList, BinaryNestingUpToTheLimitIsReadAndPastItRefused) {
    Value arrays = Array{};
    Value dictionaries = Object{};
    for (std::size_t level = 1; level < maximumNestingDepth; ++level) {
        arrays = Array{arrays};
        dictionaries = Object{{"k", dictionaries}};
    }
    EXPECT_EQ(fromPropertyList(testing::nestedBinaryArrays(maximumNestingDepth)), arrays);
    EXPECT_EQ(fromPropertyList(testing::nestedBinaryDictionaries(maximumNestingDepth)), dictionaries);
    for (const std::string& bytes : {testing::nestedBinaryArrays(maximumNestingDepth + 1),
                                     testing::nestedBinaryDictionaries(maximumNestingDepth + 1)}) {
        try {
            fromPropertyList(bytes);
            ADD_FAILURE();
        } catch (const DecodingError& error) {
            EXPECT_EQ(error.kind(), DecodingError::Kind::dataCorrupted);
            EXPECT_EQ(error.debugDescription(), nestedTooDeeply());
        }
    }
}

TEST(PropertyList, HostileBinaryDocumentsAreRefused) {
    for (const auto& hostile : testing::hostileBinaryPropertyLists()) {
        try {
            fromPropertyList(hostile.bytes);
            ADD_FAILURE() << hostile.what;
        } catch (const DecodingError& error) {
            EXPECT_EQ(error.kind(), DecodingError::Kind::dataCorrupted) << hostile.what;
            EXPECT_EQ(error.debugDescription() == nestedTooDeeply(), hostile.nestsTooDeeply)
                << hostile.what << ": " << error.debugDescription();
        }
    }
}

TEST(PropertyList, SharedLeavesAreReadWhileTheirCopiesStaySmall) {
    // 10,000 copies of a short string, and 100 of a 4 KiB one: far below what a reader holds.
    const std::string shortCopies = testing::sharedLeaves(
        [](testing::BinaryPropertyListWriter& writer) { return writer.string("shared"); }, 100, 100);
    const std::string longCopies = testing::sharedLeaves(
        [](testing::BinaryPropertyListWriter& writer) { return writer.string(std::string(4096, 'x')); }, 10, 10);
    const Value shortValue = fromPropertyList(shortCopies);
    const Value longValue = fromPropertyList(longCopies);
    EXPECT_EQ(*shortValue.get<Object>()->find("k"),
              Value(Array(100, Value(Array(100, Value(std::string("shared")))))));
    EXPECT_EQ(*longValue.get<Object>()->find("k"),
              Value(Array(10, Value(Array(10, Value(std::string(4096, 'x')))))));
}

TEST(PropertyList, ABinaryArrayIsReadInOrderNeverItemByIndex) {
    // The library finds an item by its index by going through the items before it, so reading an
    // array that way takes time in the square of its length: minutes for 500,000 values.
    Array values;
    for (std::int64_t value = 0; value < 5000; ++value) {
        values.push_back(value * 7);
    }
    const Value document(Object{{"k", values}});
    const std::string bytes = toBinaryPropertyList(document);
    const std::size_t fetchesBefore = itemsFetchedByIndex.load();
    EXPECT_EQ(fromPropertyList(bytes), document);
    EXPECT_EQ(itemsFetchedByIndex.load() - fetchesBefore, 0u);
}

TEST(PropertyList, BinaryDocumentsWithBrokenTablesAreRefused) {
    const std::string good = toBinaryPropertyList(Object{{"a", Array{1, "two"}}});
    ASSERT_EQ(fromPropertyList(good), Value(Object{{"a", Array{1, "two"}}}));
    const std::size_t trailer = good.size() - 32;
    auto changed = [&](std::size_t at, char byte) {
        std::string bytes = good;
        bytes[at] = byte;
        return bytes;
    };
    const std::string cases[] = {
        good.substr(0, good.size() - 1),                       // cut short
        "bplist00",                                            // no trailer
        changed(trailer + 6, 0),                               // offsets of no width
        changed(trailer + 7, 9),                               // references wider than 8 bytes
        changed(trailer + 15, 100),                            // more objects than the table holds
        changed(trailer + 31, 0),                              // the table over the header
        changed(trailer + 31, static_cast<char>(good.size())), // the table past the end
        changed(good.find("bplist00") + 7, '1'),               // another version
    };
    for (const std::string& bytes : cases) {
        EXPECT_THROW(fromPropertyList(bytes), DecodingError);
    }
}

TEST(PropertyList, BinaryWritingKeepsEveryKindAndItsOrder) {
    Value value = Object{{"zeta", "text"},
                         {"alpha", Array{std::int64_t{-5}, std::int64_t{42}, 2.5, true, false}},
                         {"when", Date{86400.5}},
                         {"bytes", Data{{0, 1, 255}}},
                         {"empty", Object{}}};
    std::string bytes = toBinaryPropertyList(value);
    EXPECT_TRUE(bytes.starts_with("bplist00"));
    EXPECT_EQ(fromPropertyList(bytes), value);
}

TEST(PropertyList, BinaryWritingRejectsWhatHasNoPropertyListForm) {
    for (const Value& value : {Value(), Value(Object{{"key", Value()}}), Value(std::string("a\0b", 3))}) {
        EXPECT_THROW(toBinaryPropertyList(value), EncodingError);
    }
}

} // namespace velmor::coding
