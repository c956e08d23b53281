#include "platform/coding/Decoding.hpp"

#include <gtest/gtest.h>

namespace velmor::coding {

TEST(Decoding, IntegersAreRangeCheckedForTheirType) {
    EXPECT_EQ(decode<std::int32_t>(Value(-5)), -5);
    EXPECT_EQ(decode<std::uint64_t>(Value(std::uint64_t{18446744073709551615ull})), 18446744073709551615ull);
    EXPECT_EQ(decode<std::int64_t>(Value(3.0)), 3);
    EXPECT_THROW(decode<std::uint16_t>(Value(70000)), DecodingError);
    EXPECT_THROW(decode<std::uint32_t>(Value(-1)), DecodingError);
    EXPECT_THROW(decode<std::int64_t>(Value(std::uint64_t{18446744073709551615ull})), DecodingError);
    EXPECT_THROW(decode<std::int64_t>(Value(2.5)), DecodingError);
    try {
        decode<std::int32_t>(Value("12"));
        FAIL();
    } catch (const DecodingError& error) {
        EXPECT_EQ(error.kind(), DecodingError::Kind::typeMismatch);
    }
}

TEST(Decoding, ErrorsCarryTheirCodingPath) {
    Value tree = Object{{"outer", Array{Object{{"a", 1}}, Object{{"b", 2}}}}};
    Decoder root(tree);
    try {
        root["outer"].elements()[1].decode<int>("a");
        FAIL();
    } catch (const DecodingError& error) {
        EXPECT_EQ(error.kind(), DecodingError::Kind::keyNotFound);
        EXPECT_EQ(describePath(error.codingPath()), "outer.Index 1");
        EXPECT_EQ(error.debugDescription(), "No value associated with key \"a\".");
    }
    EXPECT_EQ(root["outer"].elements()[1].decode<int>("b"), 2);
    EXPECT_FALSE(root.decodeIfPresent<int>("missing"));
}

TEST(Decoding, OneKeySchemeNeedsExactlyOneRecognisedKey) {
    struct Case {
        Value value;
        bool valid;
    };
    const Case cases[] = {
        {Object{{"item", Object{}}}, true},
        {Object{{"item", Object{}}, {"unrelated", 1}}, true},
        {Object{{"item", Object{}}, {"folder", Object{}}}, false},
        {Object{}, false},
        {Object{{"unrelated", 1}}, false},
    };
    for (const auto& c : cases) {
        Decoder decoder(c.value);
        if (c.valid) {
            EXPECT_EQ(decodeOneKey(decoder, {"item", "folder"}).first, "item");
        } else {
            try {
                decodeOneKey(decoder, {"item", "folder"});
                ADD_FAILURE();
            } catch (const DecodingError& error) {
                EXPECT_EQ(error.kind(), DecodingError::Kind::typeMismatch);
                EXPECT_EQ(error.debugDescription(), "Invalid number of keys found, expected one.");
            }
        }
    }
    EXPECT_EQ(encodeOneKey("folder", Object{{"contentSize", 3}}),
              Value(Object{{"folder", Object{{"contentSize", 3}}}}));
}

} // namespace velmor::coding
