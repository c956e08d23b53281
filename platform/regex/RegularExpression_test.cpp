#include "platform/regex/RegularExpression.hpp"

#include "platform/error/Error.hpp"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace velmor {
namespace {

TEST(RegularExpression, EscapedPatternMatchesItsTextLiterally) {
    EXPECT_EQ(RegularExpression::escapedPattern("*.log"), "\\*\\.log");
    EXPECT_EQ(RegularExpression::escapedPattern("plain"), "plain");
    for (std::string text : {"a?c", "[x](y){2}", "^$|+\\", "1.0-beta/#"}) {
        RegularExpression literal("^" + RegularExpression::escapedPattern(text) + "$");
        EXPECT_TRUE(literal.hasMatch(text)) << text;
        EXPECT_FALSE(literal.hasMatch(text + "x")) << text;
    }
}

TEST(RegularExpression, MatchingWithoutBacktrackingFindsWhatBacktrackingGivesUpOn) {
    // Backtracking tries every way of placing the eight a's in the second run before the first,
    // reaches its limit and, read as an answer, would say "no match".
    const std::string pattern = "^.*a.*a.*a.*a.*a.*a.*a.*a.*b.*c$";
    const std::string matching = std::string(120, 'a') + "b" + std::string(120, 'a') + "c";
    const std::string missing = std::string(120, 'a') + "c" + std::string(120, 'a') + "b";
    RegularExpression linear(pattern, {.caseInsensitive = true, .withoutBacktracking = true});
    EXPECT_TRUE(linear.hasMatch(matching, {.anchored = true}));
    EXPECT_TRUE(linear.hasMatch("AAAAAAAABC", {.anchored = true}));
    EXPECT_FALSE(linear.hasMatch(missing, {.anchored = true}));
    EXPECT_FALSE(linear.hasMatch("aaaaaaabc", {.anchored = true}));
    // Invalid UTF-8 is still matched as its lossy decoding.
    RegularExpression name("^.*\\.log$", {.caseInsensitive = true, .withoutBacktracking = true});
    EXPECT_TRUE(name.hasMatch("bad\xff.LOG"));

    RegularExpression backtracking(pattern, {.caseInsensitive = true});
    try {
        EXPECT_TRUE(backtracking.hasMatch(matching, {.anchored = true}));
    } catch (const ErrorException& failure) {
        // The engine's failure comes out as an error, never as an answer.
        EXPECT_EQ(failure.error().domain(), RegularExpression::matchingErrorDomain);
        EXPECT_LT(failure.error().code(), 0);
    }
}

TEST(RegularExpression, MatchesUnicodeTextWithOrWithoutCase) {
    RegularExpression caseless("^r\u00e9sum\u00e9$", {.caseInsensitive = true});
    RegularExpression exact("^r\u00e9sum\u00e9$");
    EXPECT_TRUE(caseless.hasMatch("R\u00c9SUM\u00c9"));
    EXPECT_FALSE(exact.hasMatch("R\u00c9SUM\u00c9"));
    // One character per code point, not per byte.
    RegularExpression oneCharacter("^.$");
    EXPECT_TRUE(oneCharacter.hasMatch("\U0001F600"));
}

TEST(RegularExpression, AnchoredMatchingStartsAtTheBeginning) {
    RegularExpression unanchoredPattern("log");
    EXPECT_TRUE(unanchoredPattern.hasMatch("x.log"));
    EXPECT_FALSE(unanchoredPattern.hasMatch("x.log", {.anchored = true}));
    EXPECT_TRUE(unanchoredPattern.hasMatch("log.x", {.anchored = true}));
    RegularExpression selfAnchored("^.*\\.log$");
    EXPECT_TRUE(selfAnchored.hasMatch("x.log", {.anchored = true}));
}

TEST(RegularExpression, MatchesInvalidUTF8AsItsLossyDecoding) {
    RegularExpression extension("^.*\\.log$", {.caseInsensitive = true});
    EXPECT_TRUE(extension.hasMatch("caf\xe9.LOG", {.anchored = true}));
    RegularExpression replacement("^caf\uFFFD$");
    EXPECT_TRUE(replacement.hasMatch("caf\xe9"));
    EXPECT_FALSE(replacement.hasMatch("caf\xe9\xe9"));
}

TEST(RegularExpression, AnInvalidPatternThrowsAnErrorNamingIt) {
    try {
        RegularExpression broken("a(b");
        FAIL() << "compiled an unbalanced pattern";
    } catch (const ErrorException& exception) {
        const Error& error = exception.error();
        EXPECT_EQ(error.domain(), "NSCocoaErrorDomain");
        EXPECT_EQ(error.code(), 2048);
        ASSERT_NE(error.stringValue("NSInvalidValue"), nullptr);
        EXPECT_EQ(*error.stringValue("NSInvalidValue"), "a(b");
        EXPECT_NE(error.description().find("\"a(b\""), std::string::npos) << error.description();
    }
}

TEST(RegularExpression, EqualWhenPatternAndOptionsAre) {
    EXPECT_EQ(RegularExpression("^a$", {.caseInsensitive = true}),
              RegularExpression("^a$", {.caseInsensitive = true}));
    EXPECT_FALSE(RegularExpression("^a$") == RegularExpression("^a$", {.caseInsensitive = true}));
    EXPECT_FALSE(RegularExpression("^a$") == RegularExpression("^b$"));
}

TEST(RegularExpression, OneExpressionServesManyThreads) {
    RegularExpression expression("^.*\\.log$", {.caseInsensitive = true});
    std::vector<std::thread> threads;
    std::vector<int> counts(4, 0);
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 500; ++i) {
                counts[t] += expression.hasMatch(i % 2 ? "a.log" : "caf\xe9.txt") ? 1 : 0;
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    for (int count : counts) {
        EXPECT_EQ(count, 250);
    }
}

} // namespace
} // namespace velmor
