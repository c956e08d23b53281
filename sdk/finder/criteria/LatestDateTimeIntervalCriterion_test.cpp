#include "sdk/finder/criteria/LatestDateTimeIntervalCriterion.hpp"

#include "platform/metadata/MetadataAttributes.hpp"
#include "platform/testing/TemporaryDirectory.hpp"
#include "sdk/finder/criteria/CriterionTestSupport.hpp"
#include "sdk/finder/criteria/DateTestSupport.hpp"
#include "sdk/finder/criteria/StatCriterionFactory.hpp"
#include "sdk/finder/records/CurrentRecordScope.hpp"

namespace sweepkit {
namespace {

using Op = velmor::metadata::ComparisonOperator;
using testing::day;
using testing::itemAt;
using testing::metadataDate;
using testing::secondsAgo;
using testing::timespecAgo;

class LatestDateTimeIntervalCriterionTest : public testing::MetadataIndexTest {
protected:
    // An entry whose file can no longer be read, so only its stat record and the index speak for it.
    FileSystemItem goneEntry(double atimeDays, double otherDays) {
        velmor::Stat stat;
        stat.st_atimespec = timespecAgo(atimeDays * day);
        stat.st_mtimespec = timespecAgo(otherDays * day);
        stat.st_ctimespec = timespecAgo(otherDays * day);
        stat.st_birthtimespec = timespecAgo(otherDays * day);
        return itemAt(folder_ / "gone", stat);
    }

    velmor::testing::TemporaryDirectory folder_;
};

TEST_F(LatestDateTimeIntervalCriterionTest, MatchesEntriesWhoseEveryDateIsOlder) {
    auto notInLastMonth = StatCriterionFactory::latestDateLongerAgoThan(30 * day);
    EXPECT_EQ(notInLastMonth->comparator(), Op::lessThan);

    EXPECT_TRUE(notInLastMonth->matches(goneEntry(40, 50)));
    EXPECT_FALSE(notInLastMonth->matches(goneEntry(1, 50))) << "accessed yesterday";

    auto indexedRecently = goneEntry(40, 50);
    index_->add(velmor::metadata::MetadataItem(
        indexedRecently.url,
        {{velmor::metadata::NSMetadataItemLastUsedDateKey, metadataDate(secondsAgo(day))}}));
    EXPECT_FALSE(notInLastMonth->matches(indexedRecently)) << "used yesterday, says the index";

    // A readable file contributes its own dates: its status changed just now.
    auto present = itemAt(folder_.writeFile("present", "x"), goneEntry(40, 50).metadata);
    EXPECT_FALSE(notInLastMonth->matches(present));
    // Handed out by a walk that has just read its record, birth time included, the record holds the
    // file's dates: the file is not read again for them.
    const CurrentRecordScope walked(present);
    EXPECT_TRUE(notInLastMonth->matches(present));
}

TEST_F(LatestDateTimeIntervalCriterionTest, TheLatestDateIsTheMaximumOfEverySource) {
    auto entry = goneEntry(40, 50);
    entry.metadata.st_birthtimespec = {2000000000, 500000000};
    EXPECT_DOUBLE_EQ(LatestDateTimeIntervalCriterion::latestDate(entry), 2000000000.5);
    index_->add(velmor::metadata::MetadataItem(
        entry.url, {{velmor::metadata::NSMetadataItemDownloadedDateKey, metadataDate(2100000000)}}));
    EXPECT_DOUBLE_EQ(LatestDateTimeIntervalCriterion::latestDate(entry), 2100000000);
}

TEST_F(LatestDateTimeIntervalCriterionTest, EachOperatorComparesTheLatestDateWithTheValue) {
    auto entry = goneEntry(0, 0);
    entry.metadata = {};
    entry.metadata.st_mtimespec = {1000, 0};
    struct Case {
        unsigned op;
        bool below;
        bool equal;
    };
    const Case cases[] = {{0, false, false}, {1, false, true}, {2, true, false}, {3, true, true},
                          {4, false, true},  {5, true, false}, {6, false, false}};
    for (const auto& c : cases) {
        EXPECT_EQ(LatestDateTimeIntervalCriterion(static_cast<Op>(c.op), 999).matches(entry), c.below)
            << c.op;
        EXPECT_EQ(LatestDateTimeIntervalCriterion(static_cast<Op>(c.op), 1000).matches(entry), c.equal)
            << c.op;
    }
}

TEST(LatestDateTimeIntervalCriterion, HasNoPredicateAndIncludesItsKind) {
    LatestDateTimeIntervalCriterion criterion(Op::lessThan, 5);
    auto error = testing::predicateError(criterion);
    ASSERT_TRUE(error);
    EXPECT_EQ(*error, SpotlightFileFinderAnalyzerError::unsupportedCriterion("LatestDateCriterion"));
    EXPECT_TRUE(criterion.includes(LatestDateTimeIntervalCriterion(Op::greaterThan, 1)));
    EXPECT_FALSE(criterion.includes(*StatCriterionFactory::addedLongerAgoThan(1)));
}

} // namespace
} // namespace sweepkit
