#include "platform/text/UTF8.hpp"

#include <gtest/gtest.h>

namespace velmor {
namespace {

TEST(UTF8, EachMaximalIllFormedSubpartBecomesOneReplacementCharacter) {
    const std::string fffd = "\xEF\xBF\xBD";
    struct Case {
        const char* name;
        std::string bytes;
        std::string text;
    };
    const Case cases[] = {
        {"ascii", "abc.log", "abc.log"},
        {"valid multibyte", "r\xC3\xA9sume\xCC\x81 \xF0\x9F\x98\x80",
         "r\xC3\xA9sume\xCC\x81 \xF0\x9F\x98\x80"},
        {"latin-1 byte", "caf\xE9.log", "caf" + fffd + ".log"},
        {"lone continuation bytes", "a\x80\x80z", "a" + fffd + fffd + "z"},
        {"truncated three-byte sequence", "a\xE2\x82z", "a" + fffd + "z"},
        {"truncated at the end", "a\xF0\x9F\x98", "a" + fffd},
        {"overlong lead", "\xC0\xAF", fffd + fffd},
        {"surrogate", "\xED\xA0\x80", fffd + fffd + fffd},
        {"beyond U+10FFFF", "\xF4\x90\x80\x80", fffd + fffd + fffd + fffd},
        {"invalid lead", "\xFF", fffd},
    };
    std::string out = "stale";
    for (const auto& c : cases) {
        decodeUTF8Lossily(c.bytes, out);
        EXPECT_EQ(out, c.text) << c.name;
        EXPECT_EQ(isValidUTF8(c.bytes), c.bytes == c.text) << c.name;
    }
}

} // namespace
} // namespace velmor
