#include "foundation/core/search/PatternSearch.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace velmor {
namespace {

std::string repeated(std::string_view unit, int times) {
    std::string text;
    for (int i = 0; i < times; ++i) {
        text += unit;
    }
    return text;
}

TEST(PatternSearch, FindsWhetherEveryKeywordOccurs) {
    const std::string lower64 = repeated("abcdefgh", 8);
    std::string mixed64 = lower64;
    for (std::size_t i = 0; i < mixed64.size(); i += 3) {
        mixed64[i] = static_cast<char>(mixed64[i] - 'a' + 'A');
    }
    struct Case {
        std::set<std::string> keywords;
        std::string input;
        bool found;
    };
    const Case cases[] = {
        // A lower-case keyword letter matches either case; an upper-case one only itself.
        {{"abc"}, "xxABCxx", true},
        {{"abc"}, "xxabcxx", true},
        {{"abc"}, "xxaBcxx", true},
        {{"ABC"}, "abc", false},
        {{"ABC"}, "ABC", true},
        {{"ABC"}, "aBC", false},
        {{"aBc"}, "ABC", true},
        {{"aBc"}, "abc", false},
        {{"ABC", "abc"}, "xabcx", false},
        {{"ABC", "abc"}, "xABCx", true},
        {{"ABC", "Abc", "abc"}, "aBc ABC Abc", true},
        {{"1-a"}, "1-A", true},
        {{"1-a"}, "1_a", false},
        // Input bytes outside ASCII are taken as they are.
        {{"\xC3\xA9t\xC3\xA9"}, "\xC3\xA9T\xC3\xA9", true},
        {{"\xC3\xA9t\xC3\xA9"}, "\xC3\x89t\xC3\x89", false},
        {{std::string("a\0b", 3)}, std::string("xA\0Bx", 5), true},
        // The classic set, and keywords found inside others through failure links.
        {{"he", "she", "his", "hers"}, "ushers", false},
        {{"he", "she", "his", "hers"}, "ushers his", true},
        {{"ab", "b"}, "ab", true},
        {{"aab"}, "aaab", true},
        {{"abcd", "bc"}, "abce", false},
        {{"abcd", "bc"}, "abce abcd", true},
        {{"abcd", "bcd", "cd", "d"}, "xxabcdxx", true},
        {{"abcd", "xbcd"}, "abcd", false},
        // Shared prefixes and suffixes.
        {{"cart", "carton", "car"}, "the CARTON", true},
        {{"cart", "carton", "care"}, "cartons", false},
        {{"tion", "nation", "station"}, "STATION NATION", true},
        {{"tion", "nation", "station"}, "nation", false},
        {{"tion", "nation", "station"}, "station", false},
        // Keywords found twice count once; all must be there.
        {{"ab", "cd"}, "abab", false},
        {{"ab", "cd"}, "cdab", true},
        // Empty input, empty keyword, empty set.
        {{"a"}, "", false},
        {{""}, "", true},
        {{""}, "anything", true},
        {{"", "ab"}, "xAbx", true},
        {{"", "ab"}, "xaxbx", false},
        {{}, "", false},
        {{}, "abc", false},
        // Long keywords of lower-case letters, which must not cost memory exponential in their length.
        {{lower64}, "<" + mixed64 + ">", true},
        {{lower64}, mixed64.substr(1), false},
        {{lower64, mixed64}, lower64, false},
        {{lower64, mixed64}, mixed64, true},
    };
    for (const auto& c : cases) {
        std::string keywords;
        for (const auto& keyword : c.keywords) {
            keywords += "\"" + keyword + "\" ";
        }
        SCOPED_TRACE("keywords " + keywords + "in \"" + c.input + "\"");
        const PatternSearch search(c.keywords);
        EXPECT_EQ(search.foundAllPattern(c.input), c.found);
        // A search leaves nothing behind for the next one.
        EXPECT_EQ(search.foundAllPattern(c.input), c.found);
    }
}

// The matching rule spelled out, position by position.
bool occursPlainly(const std::string& keyword, const std::string& input) {
    for (std::size_t start = 0; start + keyword.size() <= input.size(); ++start) {
        bool matches = true;
        for (std::size_t i = 0; i < keyword.size() && matches; ++i) {
            const char k = keyword[i];
            const char c = input[start + i];
            matches = c == k || (k >= 'a' && k <= 'z' && c == k - 'a' + 'A');
        }
        if (matches) {
            return true;
        }
    }
    return false;
}

TEST(PatternSearch, AgreesWithAPlainScanOnRandomKeywordsAndInputs) {
    // A small alphabet, so keywords overlap, share prefixes and suffixes, and differ only in case.
    const std::string alphabet = "abAB-";
    std::uint32_t seed = 7;
    auto random = [&](std::uint32_t bound) {
        seed = seed * 1103515245u + 12345u;
        return (seed >> 16) % bound;
    };
    auto word = [&](std::uint32_t maxLength) {
        std::string text;
        for (std::uint32_t length = random(maxLength + 1); length > 0; --length) {
            text += alphabet[random(static_cast<std::uint32_t>(alphabet.size()))];
        }
        return text;
    };
    int found = 0;
    for (int round = 0; round < 3000; ++round) {
        std::set<std::string> keywords;
        for (std::uint32_t count = 1 + random(4); count > 0; --count) {
            keywords.insert(word(4));
        }
        const std::string input = word(40);
        bool expected = true;
        for (const auto& keyword : keywords) {
            expected = expected && occursPlainly(keyword, input);
        }
        found += expected;
        ASSERT_EQ(PatternSearch(keywords).foundAllPattern(input), expected)
            << "round " << round << ", input \"" << input << "\"";
    }
    // Both answers came up often enough to mean something.
    EXPECT_GT(found, 300);
    EXPECT_LT(found, 2700);
}

TEST(PatternSearch, ThousandsOfLongKeywordsAreBuiltAndFound) {
    std::set<std::string> keywords;
    std::string input;
    std::uint32_t seed = 12345;
    for (int k = 0; k < 2000; ++k) {
        std::string keyword;
        for (int i = 0; i < 64; ++i) {
            seed = seed * 1103515245u + 12345u;
            keyword += static_cast<char>('a' + (seed >> 16) % 26);
        }
        keywords.insert(keyword);
        input += keyword + " ";
    }
    const PatternSearch search(keywords);
    EXPECT_TRUE(search.foundAllPattern(input));
    input.erase(input.size() - 30);
    EXPECT_FALSE(search.foundAllPattern(input));
}

TEST(PatternSearch, OneSearchServesSeveralThreadsAtOnce) {
    const PatternSearch search({"needle", "Hay"});
    const std::string both = repeated("straw ", 2000) + "NEEDLE Hay";
    const std::string one = repeated("straw ", 2000) + "needle hay";
    std::vector<std::jthread> threads;
    std::atomic<int> right{0};
    for (int thread = 0; thread < 4; ++thread) {
        threads.emplace_back([&] {
            for (int i = 0; i < 50; ++i) {
                right += search.foundAllPattern(both) && !search.foundAllPattern(one);
            }
        });
    }
    threads.clear();
    EXPECT_EQ(right, 200);
}

} // namespace
} // namespace velmor
