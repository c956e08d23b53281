#include "platform/coding/JSON.hpp"

#include "platform/coding/Decoding.hpp"

#include <gtest/gtest.h>

namespace velmor::coding {

TEST(JSON, KeepsKeyOrderAndRoundTrips) {
    Value tree = Object{{"zeta", 1},
                        {"alpha", Array{true, nullptr, 2.5, "text"}},
                        {"big", std::uint64_t{18446744073709551615ull}},
                        {"negative", -7}};
    std::string text = toJSON(tree);
    EXPECT_EQ(text, R"({"zeta":1,"alpha":[true,null,2.5,"text"],"big":18446744073709551615,"negative":-7})");
    EXPECT_EQ(fromJSON(text), tree);
}

TEST(JSON, DataIsBase64) {
    EXPECT_EQ(toJSON(Value(Data{{'a', 'b', 'c', 'd'}})), "\"YWJjZA==\"");
}

TEST(JSON, MalformedTextAndInvalidUtf8AreErrors) {
    try {
        fromJSON("{\"a\": ");
        FAIL();
    } catch (const DecodingError& error) {
        EXPECT_EQ(error.kind(), DecodingError::Kind::dataCorrupted);
    }
    EXPECT_THROW(toJSON(Value(std::string("bad \xFF byte"))), EncodingError);
}

TEST(JSON, NestingPastTheLimitIsAnErrorAtItsPath) {
    for (std::size_t depth : {maximumNestingDepth + 1, std::size_t{50000}}) {
        const std::string text = std::string(depth, '[') + std::string(depth, ']');
        try {
            fromJSON(text);
            ADD_FAILURE() << depth;
        } catch (const DecodingError& error) {
            EXPECT_EQ(error.kind(), DecodingError::Kind::dataCorrupted);
            EXPECT_EQ(error.codingPath().size(), maximumNestingDepth);
            EXPECT_EQ(error.debugDescription(), "The data is nested more than 512 levels deep.");
        }
    }
    const std::string deepest = std::string(maximumNestingDepth, '[') + std::string(maximumNestingDepth, ']');
    EXPECT_NO_THROW(fromJSON(deepest));
}

} // namespace velmor::coding
