#include "sdk/finder/criteria/StatMatchingCriterion.hpp"

#include "sdk/finder/criteria/CriterionTestSupport.hpp"
#include "sdk/finder/criteria/DateTestSupport.hpp"
#include "sdk/finder/criteria/StatCriterionFactory.hpp"

namespace sweepkit {
namespace {

using Op = velmor::metadata::ComparisonOperator;
using testing::Clock;
using testing::day;
using testing::itemAt;
using testing::timespecAgo;

FileSystemItem withTimes(double modifiedDaysAgo, double changedDaysAgo, double accessedDaysAgo) {
    velmor::Stat stat;
    stat.st_mtimespec = timespecAgo(modifiedDaysAgo * day);
    stat.st_ctimespec = timespecAgo(changedDaysAgo * day);
    stat.st_atimespec = timespecAgo(accessedDaysAgo * day);
    return itemAt("/data/file", stat);
}

FileSystemItem withSize(std::int64_t size) {
    velmor::Stat stat;
    stat.st_size = size;
    return itemAt("/data/file", stat);
}

TEST(StatCriterionFactory, MakesTheTimeCriteriaOverTheirOwnValues) {
    auto dayAgo = Clock::now() - std::chrono::hours(24);
    double dayAgoSeconds = secondsSince1970(dayAgo);
    struct Case {
        const char* name;
        StatCriterionFactory::TimeCriterion criterion;
        StatKeyPath<double> keyPath;
        double value;
        Op op;
    };
    const Case cases[] = {
        {"modifiedBefore", StatCriterionFactory::modifiedBefore(dayAgo),
         statKeyPaths::modificationTimeInterval, dayAgoSeconds, Op::lessThan},
        {"modifiedAfter", StatCriterionFactory::modifiedAfter(dayAgo), statKeyPaths::modificationTimeInterval,
         dayAgoSeconds, Op::greaterThan},
        {"modifiedLongerAgoThan", StatCriterionFactory::modifiedLongerAgoThan(day),
         statKeyPaths::secondsSinceModification, day, Op::greaterThan},
        {"accessedBefore", StatCriterionFactory::accessedBefore(dayAgo), statKeyPaths::accessTimeInterval,
         dayAgoSeconds, Op::lessThan},
        {"accessedAfter", StatCriterionFactory::accessedAfter(dayAgo), statKeyPaths::accessTimeInterval,
         dayAgoSeconds, Op::greaterThan},
        {"accessedLongerAgoThan", StatCriterionFactory::accessedLongerAgoThan(day),
         statKeyPaths::secondsSinceAccess, day, Op::greaterThan},
        {"changedBefore", StatCriterionFactory::changedBefore(dayAgo), statKeyPaths::statusChangeTimeInterval,
         dayAgoSeconds, Op::lessThan},
        {"changedAfter", StatCriterionFactory::changedAfter(dayAgo), statKeyPaths::statusChangeTimeInterval,
         dayAgoSeconds, Op::greaterThan},
        {"changedLongerAgoThan", StatCriterionFactory::changedLongerAgoThan(day),
         statKeyPaths::secondsSinceStatusChange, day, Op::greaterThan},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.criterion->keyPath(), c.keyPath) << c.name;
        EXPECT_DOUBLE_EQ(c.criterion->value(), c.value) << c.name;
        EXPECT_EQ(c.criterion->comparaisonPredicate(), c.op) << c.name;
    }
}

TEST(StatMatchingCriterion, TimesAndAgesCompareTheEntrysOwnTime) {
    auto dayAgo = Clock::now() - std::chrono::hours(24);
    // Modified two days ago, changed an hour ago, accessed three days ago.
    auto item = withTimes(2, 1.0 / 24, 3);
    EXPECT_TRUE(StatCriterionFactory::modifiedBefore(dayAgo)->matches(item));
    EXPECT_FALSE(StatCriterionFactory::modifiedAfter(dayAgo)->matches(item));
    EXPECT_TRUE(StatCriterionFactory::modifiedLongerAgoThan(day)->matches(item));
    EXPECT_FALSE(StatCriterionFactory::changedBefore(dayAgo)->matches(item));
    EXPECT_TRUE(StatCriterionFactory::changedAfter(dayAgo)->matches(item));
    EXPECT_FALSE(StatCriterionFactory::changedLongerAgoThan(day)->matches(item));
    EXPECT_TRUE(StatCriterionFactory::accessedBefore(dayAgo)->matches(item));
    EXPECT_TRUE(StatCriterionFactory::accessedLongerAgoThan(2 * day)->matches(item));
    EXPECT_FALSE(StatCriterionFactory::accessedLongerAgoThan(4 * day)->matches(item));
}

TEST(StatMatchingCriterion, SizesUnderEachOperator) {
    struct Case {
        unsigned op;
        bool smaller;
        bool equal;
        bool larger;
    };
    const Case cases[] = {{0, true, false, false},  {1, true, true, false},    {2, false, false, true},
                          {3, false, true, true},   {4, false, true, false},   {5, true, false, true},
                          {7, false, false, false}, {100, false, false, false}};
    for (const auto& c : cases) {
        StatMatchingCriterion<std::int64_t> criterion(100, statKeyPaths::size, static_cast<Op>(c.op));
        EXPECT_EQ(criterion.matches(withSize(99)), c.smaller) << c.op;
        EXPECT_EQ(criterion.matches(withSize(100)), c.equal) << c.op;
        EXPECT_EQ(criterion.matches(withSize(101)), c.larger) << c.op;
    }
    EXPECT_TRUE(StatCriterionFactory::sizeEqualTo(0)->matches(withSize(0)));
    EXPECT_FALSE(StatCriterionFactory::sizeEqualTo(0)->matches(withSize(1)));
    EXPECT_TRUE(StatCriterionFactory::sizeLessThan(10)->matches(withSize(9)));
    EXPECT_TRUE(StatCriterionFactory::sizeGreaterThan(10)->matches(withSize(11)));
}

TEST(StatMatchingCriterion, OnlyTheSizeHasAPredicate) {
    auto size = StatCriterionFactory::sizeGreaterThan(1000000);
    auto predicate = size->spotlightPredicate();
    EXPECT_EQ(predicate->predicateFormat(), "kMDItemFSSize > 1000000");
    auto& comparison = dynamic_cast<const velmor::metadata::ComparisonPredicate&>(*predicate);
    EXPECT_EQ(comparison.operatorType(), Op::greaterThan);
    EXPECT_EQ(std::get<std::int64_t>(comparison.constant()), 1000000);
    EXPECT_EQ(comparison.options(), velmor::metadata::ComparisonOptions{});
    EXPECT_EQ(StatCriterionFactory::sizeLessThan(5)->spotlightPredicate()->predicateFormat(),
              "kMDItemFSSize < 5");
    EXPECT_EQ(StatCriterionFactory::sizeEqualTo(0)->spotlightPredicate()->predicateFormat(),
              "kMDItemFSSize == 0");

    auto now = Clock::now();
    for (const auto& time :
         {StatCriterionFactory::modifiedBefore(now), StatCriterionFactory::accessedAfter(now),
          StatCriterionFactory::changedBefore(now)}) {
        auto error = testing::predicateError(*time);
        ASSERT_TRUE(error);
        EXPECT_EQ(*error, SpotlightFileFinderAnalyzerError::unsupportedValue("date-based request"));
    }
    for (const auto& age :
         {StatCriterionFactory::modifiedLongerAgoThan(60), StatCriterionFactory::accessedLongerAgoThan(60),
          StatCriterionFactory::changedLongerAgoThan(60)}) {
        auto error = testing::predicateError(*age);
        ASSERT_TRUE(error);
        EXPECT_EQ(error->errorCase(), SpotlightFileFinderAnalyzerError::Case::unsupportedCriterion);
        EXPECT_EQ(error->description(), "StatMatching criterion on " + age->keyPath().description());
    }
    // A key path of its own is no size either.
    StatKeyPath<std::int64_t> blocks{"st_blocks", [](const velmor::Stat& stat) { return stat.st_blocks; }};
    auto error = testing::predicateError(StatMatchingCriterion<std::int64_t>(1, blocks, Op::greaterThan));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->description(), "StatMatching criterion on \\stat.st_blocks");
}

TEST(StatMatchingCriterion, IncludesOnlyAnEqualCriterionOfTheSameValueType) {
    auto size = StatCriterionFactory::sizeGreaterThan(10);
    EXPECT_TRUE(size->includes(*StatCriterionFactory::sizeGreaterThan(10)));
    EXPECT_FALSE(size->includes(*StatCriterionFactory::sizeGreaterThan(11)));
    EXPECT_FALSE(size->includes(*StatCriterionFactory::sizeLessThan(10)));
    EXPECT_FALSE(size->includes(
        StatMatchingCriterion<double>(10, statKeyPaths::modificationTimeInterval, Op::greaterThan)));
    auto age = StatCriterionFactory::modifiedLongerAgoThan(60);
    EXPECT_TRUE(age->includes(*StatCriterionFactory::modifiedLongerAgoThan(60)));
    EXPECT_FALSE(age->includes(*StatCriterionFactory::accessedLongerAgoThan(60)));
    EXPECT_EQ(size->description(),
              "StatMatchingCriterion<Int64>(value: 10, keyPath: \\stat.st_size, comparaisonPredicate: 2)");
}

} // namespace
} // namespace sweepkit
