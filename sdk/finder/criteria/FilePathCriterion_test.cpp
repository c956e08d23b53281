#include "sdk/finder/criteria/CriterionTestSupport.hpp"
#include "sdk/finder/criteria/FilePathCriterion.hpp"

namespace sweepkit {
namespace {

using testing::itemAt;

TEST(FilePathCriterion, FindsItsPatternLiterallyInThePath) {
    struct Case {
        std::string pattern;
        std::string path;
        bool matches;
    };
    const Case cases[] = {
        {"/Caches/", "/Users/a/Library/Caches/x", true},
        {"/Caches/", "/Users/a/Library/caches/x", false},
        {"/Caches/", "/Users/a/Library/Caches/", false}, // the path has no trailing slash
        {"", "/Users/a", false},
        {"a.b", "/x/aXb", false},
        {"caf\xe9", "/data/caf\xe9/x", true}, // the path's own bytes, never decoded
        {"caf\xc3\xa9", "/data/caf\xe9/x", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(FilePathCriterion(c.pattern).matches(itemAt(c.path)), c.matches)
            << c.pattern << " in " << c.path;
    }
}

TEST(FilePathCriterion, HasNoPredicateAndIncludesOnlyItsEqual) {
    FilePathCriterion caches("/Caches/");
    auto error = testing::predicateError(caches);
    ASSERT_TRUE(error);
    EXPECT_EQ(*error, SpotlightFileFinderAnalyzerError::unsupportedCriterion("FilePathCriterion"));
    EXPECT_TRUE(caches.includes(FilePathCriterion("/Caches/")));
    EXPECT_FALSE(caches.includes(FilePathCriterion("/caches/")));
}

} // namespace
} // namespace sweepkit
