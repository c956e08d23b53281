// Every date criterion's answer for a small fixture of known times, with no metadata index installed
// (as on a real scan), so a faster way of reading the dates cannot change what a scan finds.

#include "platform/testing/TemporaryDirectory.hpp"
#include "sdk/finder/criteria/CriterionTestSupport.hpp"
#include "sdk/finder/criteria/DateTestSupport.hpp"
#include "sdk/finder/criteria/StatCriterionFactory.hpp"
#include "sdk/finder/records/CurrentRecordScope.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

namespace sweepkit {
namespace {

using Key = FileDateMetadataCriterion::Key;
using Op = velmor::metadata::ComparisonOperator;
using testing::day;
using testing::itemAt;
using testing::timespecAgo;

constexpr double month = 30 * day;

void setTimes(const std::string& path, double daysAgo) {
    auto at = timespecAgo(daysAgo * day);
    const struct ::timespec times[2] = {{at.tv_sec, 0}, {at.tv_sec, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW), 0) << path;
}

// The entry's record as the walk reads it.
velmor::Stat walkRecord(const std::string& path) {
    auto record = velmor::Stat::lstatPath(path);
    EXPECT_TRUE(record) << path;
    return record.value_or(velmor::Stat{});
}

struct BirthTime {
    bool known = false;
    double seconds = 0;
};

BirthTime birthTime(const std::string& path) {
    struct ::statx record {};
    EXPECT_EQ(::statx(AT_FDCWD, path.c_str(), AT_SYMLINK_NOFOLLOW, STATX_BTIME, &record), 0);
    return {(record.stx_mask & STATX_BTIME) != 0, record.stx_btime.tv_sec + record.stx_btime.tv_nsec / 1e9};
}

TEST(DateCriteriaAnswers, EveryDateCriterionAnswersAsBeforeOnFilesAFifoAndAGoneEntry) {
    ASSERT_FALSE(velmor::metadata::MetadataIndex::current())
        << "these answers are for a scan without an index";
    velmor::testing::TemporaryDirectory folder;

    // Accessed and modified 40 days ago; its status change and birth are now.
    std::string old = folder.writeFile("old", "x");
    setTimes(old, 40);
    std::string fresh = folder.writeFile("fresh", "x");
    std::string fifo = folder / "fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    setTimes(fifo, 40);
    // Walked with every time 40 to 50 days ago, then removed before it is judged.
    std::string goneFile = folder.writeFile("gone", "x");
    velmor::Stat goneRecord = walkRecord(goneFile);
    goneRecord.st_atimespec = timespecAgo(40 * day);
    goneRecord.st_mtimespec = timespecAgo(45 * day);
    goneRecord.st_ctimespec = timespecAgo(50 * day);
    goneRecord.st_birthtimespec = {};
    ASSERT_EQ(::unlink(goneFile.c_str()), 0);

    const std::vector<FileSystemItem> entries = {
        itemAt(old, walkRecord(old)), itemAt(fresh, walkRecord(fresh)), itemAt(fifo, walkRecord(fifo)),
        itemAt(goneFile, goneRecord)};
    const BirthTime births[] = {birthTime(old), birthTime(fresh), birthTime(fifo), {}};
    // The fixture lies on a file system that records birth times; where one does not, the
    // birth-time rows expect no date.
    auto born = [&](std::size_t i) { return births[i].known; };

    struct Row {
        const char* name;
        AnyFileMatchingCriterion criterion;
        // Answers for old, fresh, fifo, gone.
        std::array<bool, 4> answers;
    };
    auto dated = [](Key key, Op op, double seconds) {
        return testing::make<FileDateMetadataCriterion>(key, op, seconds);
    };
    std::vector<Row> rows = {
        {"modified < a month ago",
         dated(Key::modifiedContent, Op::lessThan, month),
         {true, false, true, false}},
        {"modified <= a month ago",
         dated(Key::modifiedContent, Op::lessThanOrEqualTo, month),
         {true, false, true, false}},
        {"modified > a month ago",
         dated(Key::modifiedContent, Op::greaterThan, month),
         {false, true, false, false}},
        {"modified >= a month ago",
         dated(Key::modifiedContent, Op::greaterThanOrEqualTo, month),
         {false, true, false, false}},
        {"modified != a month ago",
         dated(Key::modifiedContent, Op::notEqualTo, month),
         {true, true, true, false}},
        {"modified == a month ago",
         dated(Key::modifiedContent, Op::equalTo, month),
         {false, false, false, false}},
        {"changed < a month ago",
         dated(Key::attributeChanged, Op::lessThan, month),
         {false, false, false, false}},
        {"changed > a month ago",
         dated(Key::attributeChanged, Op::greaterThan, month),
         {true, true, true, false}},
        {"born < a month ago",
         dated(Key::contentCreation, Op::lessThan, month),
         {false, false, false, false}},
        {"born > a month ago",
         dated(Key::contentCreation, Op::greaterThan, month),
         {born(0), born(1), born(2), false}},
        {"born != a month ago",
         dated(Key::contentCreation, Op::notEqualTo, month),
         {born(0), born(1), born(2), false}},
        {"added longer ago than a day",
         StatCriterionFactory::addedLongerAgoThan(day),
         {false, false, false, false}},
        {"added != a day ago",
         dated(Key::addedToDirectory, Op::notEqualTo, day),
         {false, false, false, false}},
        {"latest date older than a month",
         StatCriterionFactory::latestDateLongerAgoThan(month),
         {false, false, false, true}},
        {"latest date older than tomorrow",
         StatCriterionFactory::latestDateLongerAgoThan(-day),
         {true, true, true, true}},
        {"latest date newer than a month ago",
         testing::make<LatestDateTimeIntervalCriterion>(Op::greaterThan, testing::secondsAgo(month)),
         {true, true, true, false}},
        {"modified longer ago than a month",
         StatCriterionFactory::modifiedLongerAgoThan(month),
         {true, false, true, true}},
        {"accessed longer ago than a month",
         StatCriterionFactory::accessedLongerAgoThan(month),
         {true, false, true, true}},
        {"changed longer ago than a month",
         StatCriterionFactory::changedLongerAgoThan(month),
         {false, false, false, true}},
    };
    // Dates only an index knows are never there without one, whatever the comparison.
    for (Key key : {Key::lastUsed, Key::fsCreation, Key::due, Key::fsContentModified, Key::downloaded}) {
        for (Op op : {Op::lessThan, Op::greaterThan, Op::notEqualTo}) {
            rows.push_back({FileDateMetadataCriterion::rawValue(key),
                            dated(key, op, month),
                            {false, false, false, false}});
        }
    }

    const char* names[] = {"old", "fresh", "fifo", "gone"};
    for (const auto& row : rows) {
        for (std::size_t i = 0; i < entries.size(); ++i) {
            EXPECT_EQ(row.criterion->matches(entries[i]), row.answers[i]) << row.name << " for " << names[i];
        }
    }
    // Judged the way a walk hands them out, with the record it just read, the readable entries get
    // the same answers from their records (and, without a birth time there, from the file).
    for (bool withBirthTime : {true, false}) {
        for (std::size_t i = 0; i + 1 < entries.size(); ++i) {
            FileSystemItem walked = entries[i];
            if (!withBirthTime) {
                walked.metadata.st_birthtimespec = {};
            }
            const CurrentRecordScope current(walked);
            for (const auto& row : rows) {
                EXPECT_EQ(row.criterion->matches(walked), row.answers[i])
                    << row.name << " for the walked " << names[i]
                    << (withBirthTime ? "" : " without a birth time");
            }
        }
    }

    // The latest date itself: the latest of the walk's record and the file's birth time.
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const auto& stat = entries[i].metadata;
        double expected = 0;
        for (const auto& time :
             {stat.st_atimespec, stat.st_mtimespec, stat.st_ctimespec, stat.st_birthtimespec}) {
            expected = std::max(expected, time.tv_sec + time.tv_nsec / 1e9);
        }
        if (births[i].known) {
            expected = std::max(expected, births[i].seconds);
        }
        EXPECT_DOUBLE_EQ(LatestDateTimeIntervalCriterion::latestDate(entries[i]), expected) << names[i];
        if (i + 1 < entries.size()) {
            const CurrentRecordScope current(entries[i]);
            EXPECT_DOUBLE_EQ(LatestDateTimeIntervalCriterion::latestDate(entries[i]), expected)
                << "the walked " << names[i];
        }
    }
}

} // namespace
} // namespace sweepkit
