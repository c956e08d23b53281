#include "app/model/definitions/CriterionConversion.hpp"

#include "sdk/finder/criteria/AndMatchingCriterion.hpp"
#include "sdk/finder/criteria/LatestDateTimeIntervalCriterion.hpp"
#include "sdk/finder/criteria/NotMatchingCriterion.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <limits>

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
