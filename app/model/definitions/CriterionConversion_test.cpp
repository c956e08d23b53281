#include "app/model/definitions/CriterionConversion.hpp"

#include "sdk/finder/criteria/AndMatchingCriterion.hpp"
#include "sdk/finder/criteria/FileNameCriterion.hpp"
#include "sdk/finder/criteria/IsDeletableMatchingCriterion.hpp"
#include "sdk/finder/criteria/LatestDateTimeIntervalCriterion.hpp"
#include "sdk/finder/criteria/NotMatchingCriterion.hpp"
#include "sdk/finder/criteria/OrMatchingCriterion.hpp"
#include "sdk/finder/criteria/StatCriterionFactory.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <limits>
#include <set>

namespace marrowdale {
namespace {

using Criterion = EncodableFileMatchingCriterion;
using Kind = Criterion::Kind;

sweepkit::FileSystemItem item(const char* path, std::int64_t size, bool deletable) {
    velmor::Stat stat;
    stat.st_size = size;
    return sweepkit::FileSystemItem{velmor::URL::fileURL(path), stat, deletable};
}

TEST(CriterionConversion, TheConvertedTreeMatchesWhatTheStoredRuleSays) {
    auto converted = fileMatchingCriterion(Criterion::and_({
        Criterion::fileIsDeletable(),
        Criterion::or_(
            {Criterion::fileCaseInsensitiveExtension("log"), Criterion::fileCaseInsensitiveName("*.log.*")}),
        Criterion::not_(Criterion::withSize(Kind::fileSizeLower, 10)),
    }));
    struct Case {
        sweepkit::FileSystemItem item;
        bool matches;
    };
    const Case cases[] = {
        {item("/l/app.LOG", 100, true), true},   {item("/l/app.log.3.gz", 100, true), true},
        {item("/l/app.log", 100, false), false}, // not deletable
        {item("/l/app.log", 5, true), false},    // too small
        {item("/l/app.txt", 100, true), false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(converted->matches(c.item), c.matches) << c.item.url.path();
    }
}

TEST(CriterionConversion, EveryStoredKindBecomesItsOwnSDKCriterion) {
    using sweepkit::StatCriterionFactory;
    const velmor::coding::Date date{86400};
    const auto time = date.timePoint();
    auto name = [](const char* pattern) {
        return std::make_shared<const sweepkit::FileNameCriterion>(
            sweepkit::FileNameCriterion::initWithWildcard(pattern));
    };
    auto extension = std::make_shared<const sweepkit::FileNameCriterion>(
        sweepkit::FileNameCriterion::initWithExtension("log"));
    struct Case {
        Criterion stored;
        sweepkit::AnyFileMatchingCriterion expected;
    };
    // Distinct values per kind, so a swap between two rows of one payload type shows.
    const Case cases[] = {
        {Criterion::fileIsDeletable(), std::make_shared<const sweepkit::IsDeletableMatchingCriterion>()},
        {Criterion::fileCaseInsensitiveName("*.tmp"), name("*.tmp")},
        {Criterion::fileCaseInsensitiveExtension("log"), extension},
        {Criterion::withDate(Kind::fileModifiedBefore, date), StatCriterionFactory::modifiedBefore(time)},
        {Criterion::withDate(Kind::fileModifiedAfter, date), StatCriterionFactory::modifiedAfter(time)},
        {Criterion::withSeconds(Kind::fileNotModifiedInLast, 11),
         StatCriterionFactory::modifiedLongerAgoThan(11)},
        {Criterion::withDate(Kind::fileOpenedBefore, date), StatCriterionFactory::accessedBefore(time)},
        {Criterion::withDate(Kind::fileOpenedAfter, date), StatCriterionFactory::accessedAfter(time)},
        {Criterion::withSeconds(Kind::fileNotOpenedInLast, 11),
         StatCriterionFactory::accessedLongerAgoThan(11)},
        {Criterion::withDate(Kind::fileCreatedBefore, date), StatCriterionFactory::changedBefore(time)},
        {Criterion::withDate(Kind::fileCreatedAfter, date), StatCriterionFactory::changedAfter(time)},
        {Criterion::withSeconds(Kind::fileNotCreatedInLast, 11),
         StatCriterionFactory::changedLongerAgoThan(11)},
        {Criterion::withSeconds(Kind::fileAddedBefore, 11), StatCriterionFactory::addedLongerAgoThan(11)},
        {Criterion::withSize(Kind::fileSizeLower, 7), StatCriterionFactory::sizeLessThan(7)},
        {Criterion::withSize(Kind::fileSizeGreater, 7), StatCriterionFactory::sizeGreaterThan(7)},
        {Criterion::withSize(Kind::fileSizeEqual, 7), StatCriterionFactory::sizeEqualTo(7)},
        {Criterion::and_({Criterion::fileIsDeletable()}),
         std::make_shared<const sweepkit::AndMatchingCriterion>(sweepkit::FileMatchingCriteria{
             std::make_shared<const sweepkit::IsDeletableMatchingCriterion>()})},
        {Criterion::or_({Criterion::fileIsDeletable()}),
         std::make_shared<const sweepkit::OrMatchingCriterion>(sweepkit::FileMatchingCriteria{
             std::make_shared<const sweepkit::IsDeletableMatchingCriterion>()})},
        {Criterion::not_(Criterion::fileIsDeletable()),
         std::make_shared<const sweepkit::NotMatchingCriterion>(
             std::make_shared<const sweepkit::IsDeletableMatchingCriterion>())},
    };
    std::set<Kind> covered;
    for (const auto& c : cases) {
        EXPECT_EQ(fileMatchingCriterion(c.stored)->description(), c.expected->description())
            << c.stored.description();
        covered.insert(c.stored.kind());
    }
    // The latest-date limit holds the moment of conversion; its own test checks the value.
    EXPECT_TRUE(std::dynamic_pointer_cast<const sweepkit::LatestDateTimeIntervalCriterion>(
        fileMatchingCriterion(Criterion::withSeconds(Kind::latestDateNotInLast, 11))));
    covered.insert(Kind::latestDateNotInLast);
    EXPECT_EQ(covered.size(), static_cast<std::size_t>(Kind::not_) + 1) << "a stored kind has no row";
}

TEST(CriterionConversion, EmptyCombinatorsStayEmpty) {
    auto converted = fileMatchingCriterion(Criterion::not_(Criterion::and_({})));
    auto negation = std::dynamic_pointer_cast<const sweepkit::NotMatchingCriterion>(converted);
    ASSERT_TRUE(negation);
    auto conjunction = std::dynamic_pointer_cast<const sweepkit::AndMatchingCriterion>(negation->criterion());
    ASSERT_TRUE(conjunction);
    EXPECT_TRUE(conjunction->criteria().empty());
}

TEST(CriterionConversion, APatternThatDoesNotCompileFailsTheWholeTree) {
    EXPECT_ANY_THROW(fileMatchingCriterion(
        Criterion::or_({Criterion::fileIsDeletable(), Criterion::fileCaseInsensitiveName("bad\xff")})));
}

TEST(CriterionConversion, TheLatestDateLimitIsFixedWhenConverted) {
    const double before =
        std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
    auto converted = std::dynamic_pointer_cast<const sweepkit::LatestDateTimeIntervalCriterion>(
        fileMatchingCriterion(Criterion::withSeconds(Kind::latestDateNotInLast, 86400)));
    const double after =
        std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
    ASSERT_TRUE(converted);
    EXPECT_GE(converted->value(), before - 86400 - 1e-3);
    EXPECT_LE(converted->value(), after - 86400 + 1e-3);
}

TEST(CriterionConversion, LimitsPastTheClocksRangeSaturate) {
    const auto now = std::chrono::system_clock::now();
    const auto sinceEpoch =
        std::chrono::duration_cast<std::chrono::nanoseconds>(now.time_since_epoch()).count();
    auto fresh = item("/l/fresh", 1, true);
    for (velmor::Timespec* time : {&fresh.metadata.st_atimespec, &fresh.metadata.st_mtimespec,
                                   &fresh.metadata.st_ctimespec, &fresh.metadata.st_birthtimespec}) {
        time->tv_sec = sinceEpoch / 1000000000;
        time->tv_nsec = sinceEpoch % 1000000000;
    }
    const double infinity = std::numeric_limits<double>::infinity();
    struct Case {
        Criterion criterion;
        bool matchesAFreshFile;
    };
    const Case cases[] = {
        {Criterion::withSeconds(Kind::latestDateNotInLast, 1e12), false},
        {Criterion::withSeconds(Kind::latestDateNotInLast, 1e300), false},
        {Criterion::withSeconds(Kind::latestDateNotInLast, infinity), false},
        {Criterion::withSeconds(Kind::latestDateNotInLast, -1e300), true},
        {Criterion::withSeconds(Kind::latestDateNotInLast, -infinity), true},
        {Criterion::withSeconds(Kind::fileNotModifiedInLast, 1e300), false},
        {Criterion::withSeconds(Kind::fileAddedBefore, -1e300), false},
        {Criterion::withDate(Kind::fileModifiedBefore, velmor::coding::Date{1e300}), true},
        {Criterion::withDate(Kind::fileModifiedAfter, velmor::coding::Date{-1e300}), true},
        {Criterion::withDate(Kind::fileOpenedBefore, velmor::coding::Date{-infinity}), false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(fileMatchingCriterion(c.criterion)->matches(fresh), c.matchesAFreshFile)
            << c.criterion.description();
    }
}

} // namespace
} // namespace marrowdale
