#include "sdk/finder/criteria/CriterionTestSupport.hpp"
#include "sdk/finder/criteria/FileNameCriterion.hpp"

#include "platform/error/Error.hpp"

namespace sweepkit {
namespace {

using testing::itemAt;

TEST(FileNameCriterion, WildcardsMatchWholeNames) {
    struct Case {
        std::string wildcard;
        std::string path;
        bool matches;
    };
    const Case cases[] = {
        {"*.log", "/var/A.LOG", true},
        {"*.log", "/var/x.log", true},
        {"*.log", "/var/x.log.gz", false},
        {"*.log", "/var/.log", true},
        {"core", "/tmp/core", true},
        {"core", "/tmp/CoRe", true},
        {"core", "/tmp/core2", false},
        {"core", "/tmp/acore", false},
        {"a?c", "/tmp/a?c", true},
        {"a?c", "/tmp/abc", false},
        {"[x]+(y)", "/tmp/[X]+(Y)", true},
        {"*", "/tmp/anything at all", true},
        {"*cache*", "/tmp/dir/", false}, // the last component of a folder URL is its name
        {"dir", "/tmp/dir/", true},
        {"\U0001F600*", "/tmp/\U0001F600 party", true}, // a character outside the basic plane
        {"caf\xc3\xa9*", "/tmp/CAF\xc3\x89-menu", true},
        {"caf?", "/tmp/caf\xe9", false},
        {"caf\xef\xbf\xbd", "/tmp/caf\xe9", true}, // an invalid byte reads as U+FFFD
    };
    for (const auto& c : cases) {
        auto criterion = FileNameCriterion::initWithWildcard(c.wildcard);
        EXPECT_EQ(criterion.matches(itemAt(c.path)), c.matches) << c.wildcard << " on " << c.path;
    }
}

TEST(FileNameCriterion, ManyWildcardsOnALongNameGiveTheTrueAnswer) {
    const auto criterion = FileNameCriterion::initWithWildcard("*a*a*a*a*a*a*a*a*b*c");
    const std::string matching = "/h/" + std::string(120, 'a') + "b" + std::string(120, 'A') + "c";
    const std::string missing = "/h/" + std::string(120, 'a') + "c" + std::string(120, 'a') + "b";
    EXPECT_TRUE(criterion.matches(itemAt(matching)));
    EXPECT_FALSE(criterion.matches(itemAt(missing)));
}

// Whichever matcher a criterion picks, it answers as the one that never backtracks.
TEST(FileNameCriterion, EveryPatternAnswersAsTheMatcherWithoutBacktracking) {
    const std::vector<FileNameCriterion> criteria = {
        FileNameCriterion::initWithExtension("log"), FileNameCriterion::initWithExtension("k"),
        FileNameCriterion::initWithExtension("tar.gz"), FileNameCriterion::initWithWildcard("*.log"),
        FileNameCriterion::initWithWildcard("core*"), FileNameCriterion::initWithWildcard("a*b"),
        FileNameCriterion::initWithWildcard("core"), FileNameCriterion::initWithWildcard("*s*s"),
    };
    const std::string names[] = {
        "x.log", "X.LOG", ".log", "log", "x.log.gz", "x.log\n", "a\nb.log", "x.lo\ng",
        "x.\xe2\x84\xaa", "x.K",
        "x.\xc5\xbf", "a.tar.gz", "a.TAR.GZ", "ab", "a\nb", "A-B", "core", "CORE dump", "core\n",
        "\xff.log", "caf\xe9.log", std::string(200, 'a') + ".log", "ss", "\xc5\xbf\xc5\xbf",
    };
    for (const auto& criterion : criteria) {
        const velmor::RegularExpression linear(criterion.regularExpression().pattern(),
                                               {.caseInsensitive = true, .withoutBacktracking = true});
        for (const auto& name : names) {
            EXPECT_EQ(criterion.matches(itemAt("/d/" + name)), linear.hasMatch(name, {.anchored = true}))
                << criterion.description() << " on \"" << name << "\"";
        }
    }
}

TEST(FileNameCriterion, ExtensionsMatchTheEndOfTheName) {
    struct Case {
        std::string extension;
        std::string path;
        bool matches;
    };
    const Case cases[] = {
        {"log", "/var/x.log", true},
        {".log", "/var/x.LOG", true},
        {"..log..", "/var/x.log", true},
        {"log", "/var/log", false},
        {"log", "/var/x.log.gz", false},
        {"log", "/var/xlog", false},
        {"tar.gz", "/var/a.tar.gz", true},
        {"tar.gz", "/var/a.tarxgz", false},
        {"log", "/var/re\xcc\x81sume\xcc\x81.log", true}, // combining accents
        {"log", "/var/\xf0\x9f\x93\x9c.log", true},       // an emoji
        {"log", "/var/caf\xe9.log", true},                // not valid UTF-8
        {"txt", "/var/caf\xe9.log", false},
    };
    for (const auto& c : cases) {
        auto criterion = FileNameCriterion::initWithExtension(c.extension);
        EXPECT_EQ(criterion.matches(itemAt(c.path)), c.matches) << c.extension << " on " << c.path;
    }
}

TEST(FileNameCriterion, PredicatesGiveTheIndexItsOwnWildcards) {
    auto wildcard = FileNameCriterion::initWithWildcard("a?c*");
    EXPECT_EQ(wildcard.spotlightPredicate()->predicateFormat(), "kMDItemFSName LIKE[c] \"a?c*\"");
    // Made once: every read hands out the same object.
    EXPECT_EQ(wildcard.spotlightPredicate(), wildcard.spotlightPredicate());

    auto dotted = FileNameCriterion::initWithExtension(".log");
    auto plain = FileNameCriterion::initWithExtension("log");
    EXPECT_EQ(dotted.spotlightPredicate()->predicateFormat(), "kMDItemFSName LIKE[c] \"*.log\"");
    EXPECT_EQ(plain.spotlightPredicate()->predicateFormat(), "kMDItemFSName LIKE[c] \"*.log\"");
    EXPECT_EQ(dotted.regularExpression(), plain.regularExpression());
    EXPECT_EQ(plain.regularExpression().pattern(), "^.*\\.log$");
}

TEST(FileNameCriterion, IncludesNameCriteriaWithAnEqualExpression) {
    auto extension = FileNameCriterion::initWithExtension("log");
    EXPECT_TRUE(extension.includes(FileNameCriterion::initWithExtension(".log")));
    // The wildcard *.log builds the very same expression.
    EXPECT_TRUE(extension.includes(FileNameCriterion::initWithWildcard("*.log")));
    EXPECT_FALSE(extension.includes(FileNameCriterion::initWithExtension("txt")));
}

TEST(FileNameCriterion, APatternThatCannotBeCompiledMakesNoCriterion) {
    // Text that is not UTF-8 cannot become an expression over Unicode text.
    EXPECT_THROW(FileNameCriterion::initWithWildcard("caf\xe9*"), velmor::ErrorException);
    EXPECT_THROW(FileNameCriterion::initWithExtension("l\xffg"), velmor::ErrorException);
}

} // namespace
} // namespace sweepkit
