#include "sdk/finder/criteria/FileDateMetadataCriterion.hpp"

#include "platform/metadata/MetadataAttributes.hpp"
#include "platform/testing/TemporaryDirectory.hpp"
#include "sdk/finder/criteria/CriterionTestSupport.hpp"
#include "sdk/finder/criteria/DateTestSupport.hpp"
#include "sdk/finder/criteria/StatCriterionFactory.hpp"

#include <fcntl.h>
#include <sys/stat.h>

namespace sweepkit {
namespace {

using Key = FileDateMetadataCriterion::Key;
using Op = velmor::metadata::ComparisonOperator;
using testing::day;
using testing::itemAt;
using testing::metadataDate;
using testing::secondsAgo;

class FileDateMetadataCriterionTest : public testing::MetadataIndexTest {
protected:
    // A file whose access and modification times lie `days` ago.
    std::string fileTouched(const std::string& name, double days) {
        std::string path = folder_.writeFile(name, "x");
        auto at = testing::timespecAgo(days * day);
        const struct ::timespec times[2] = {{at.tv_sec, 0}, {at.tv_sec, 0}};
        EXPECT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
        return path;
    }

    velmor::testing::TemporaryDirectory folder_;
};

TEST(FileDateMetadataCriterionKey, KeysCodeAsTheirRawValues) {
    const char* names[] = {"lastUsed",          "fsCreation",       "contentCreation",
                           "addedToDirectory",  "attributeChanged", "due",
                           "fsContentModified", "modifiedContent",  "downloaded"};
    ASSERT_EQ(FileDateMetadataCriterion::allKeys.size(), std::size(names));
    for (std::size_t i = 0; i < std::size(names); ++i) {
        Key key = FileDateMetadataCriterion::allKeys[i];
        EXPECT_EQ(static_cast<std::size_t>(key), i);
        EXPECT_EQ(velmor::coding::encode(key), velmor::coding::Value(names[i]));
        EXPECT_EQ(velmor::coding::decode<Key>(names[i]), key);
    }
    for (const char* text : {"FsCreation", "", "lastused", "created"}) {
        try {
            velmor::coding::decode<Key>(text);
            ADD_FAILURE() << "decoded " << text;
        } catch (const velmor::coding::DecodingError& error) {
            EXPECT_EQ(error.kind(), velmor::coding::DecodingError::Kind::dataCorrupted);
        }
    }
}

TEST_F(FileDateMetadataCriterionTest, ResolvesFileDatesFromTheFileAndTheRestFromTheIndex) {
    std::string path = fileTouched("f", 3);
    auto item = itemAt(path);
    struct ::statx record {};
    ASSERT_EQ(::statx(AT_FDCWD, path.c_str(), 0, STATX_BASIC_STATS | STATX_BTIME, &record), 0);
    // The index claims other dates for every key; only the keys without a file date take them.
    std::map<std::string, velmor::coding::Value> attributes;
    for (Key key : FileDateMetadataCriterion::allKeys) {
        attributes[FileDateMetadataCriterion::metadataAttribute(key)] = metadataDate(1000);
    }
    index_->add(velmor::metadata::MetadataItem(item.url, attributes));

    auto seconds = [&](Key key) -> std::optional<double> {
        auto date = FileDateMetadataCriterion::resolveDate(key, item);
        return date ? std::optional(secondsSince1970(*date)) : std::nullopt;
    };
    EXPECT_EQ(seconds(Key::modifiedContent), static_cast<double>(record.stx_mtime.tv_sec));
    EXPECT_DOUBLE_EQ(*seconds(Key::attributeChanged),
                     record.stx_ctime.tv_sec + record.stx_ctime.tv_nsec / 1e9);
    if (record.stx_mask & STATX_BTIME) {
        EXPECT_DOUBLE_EQ(*seconds(Key::contentCreation),
                         record.stx_btime.tv_sec + record.stx_btime.tv_nsec / 1e9);
    } else {
        EXPECT_EQ(seconds(Key::contentCreation), std::nullopt);
    }
    EXPECT_EQ(seconds(Key::addedToDirectory), std::nullopt) << "the file route has no such date and is final";
    for (Key key : {Key::lastUsed, Key::fsCreation, Key::due, Key::fsContentModified, Key::downloaded}) {
        EXPECT_EQ(seconds(key), 1000.0) << FileDateMetadataCriterion::rawValue(key);
    }
}

TEST_F(FileDateMetadataCriterionTest, AFileTheIndexDoesNotKnowHasOnlyItsFileDates) {
    auto item = itemAt(fileTouched("unindexed", 3));
    EXPECT_FALSE(FileDateMetadataCriterion::resolveDate(Key::lastUsed, item));
    EXPECT_TRUE(FileDateMetadataCriterion::resolveDate(Key::modifiedContent, item));

    // A value that is not a date is no date either.
    auto odd = itemAt(fileTouched("odd", 3));
    index_->add(velmor::metadata::MetadataItem(
        odd.url, {{velmor::metadata::NSMetadataItemLastUsedDateKey, "yesterday"}}));
    EXPECT_FALSE(FileDateMetadataCriterion::resolveDate(Key::lastUsed, odd));
}

TEST_F(FileDateMetadataCriterionTest, AnUnreadableFileHasNoDateAndTheIndexIsNotAsked) {
    auto missing = itemAt(folder_ / "missing");
    index_->add(velmor::metadata::MetadataItem(
        missing.url, {{velmor::metadata::NSMetadataItemContentModificationDateKey, metadataDate(1000)}}));
    EXPECT_FALSE(FileDateMetadataCriterion::resolveDate(Key::modifiedContent, missing));
    for (int raw = 0; raw <= 5; ++raw) {
        FileDateMetadataCriterion criterion(Key::modifiedContent, static_cast<Op>(raw), day);
        EXPECT_FALSE(criterion.matches(missing)) << "operator " << raw;
    }
}

TEST_F(FileDateMetadataCriterionTest, ComparesTheDateWithTheMomentBeforeNow) {
    auto twoDaysOld = itemAt(fileTouched("old", 2));
    auto fresh = itemAt(fileTouched("new", 1.0 / 24));
    struct Case {
        unsigned op;
        bool old;
        bool young;
    };
    // Threshold: one day ago. The old file is before it, the new one after.
    const Case cases[] = {{0, true, false},  {1, true, false}, {2, false, true},  {3, false, true},
                          {4, false, false}, {5, true, true},  {7, false, false}, {42, false, false}};
    for (const auto& c : cases) {
        FileDateMetadataCriterion criterion(Key::modifiedContent, static_cast<Op>(c.op), day);
        EXPECT_EQ(criterion.matches(twoDaysOld), c.old) << "operator " << c.op;
        EXPECT_EQ(criterion.matches(fresh), c.young) << "operator " << c.op;
    }
}

TEST_F(FileDateMetadataCriterionTest, AddedDatesAreUnknownHereSoAddedLongerAgoMatchesNothing) {
    auto item = itemAt(fileTouched("added", 2));
    index_->add(velmor::metadata::MetadataItem(
        item.url, {{velmor::metadata::NSMetadataItemDateAddedKey, metadataDate(secondsAgo(2 * day))}}));
    auto criterion = StatCriterionFactory::addedLongerAgoThan(day);
    EXPECT_EQ(criterion->key(), Key::addedToDirectory);
    EXPECT_EQ(criterion->comparator(), Op::lessThan);
    EXPECT_EQ(criterion->timeInterval(), day);
    EXPECT_FALSE(criterion->matches(item));
    EXPECT_FALSE(FileDateMetadataCriterion(Key::addedToDirectory, Op::notEqualTo, day).matches(item));
}

TEST(FileDateMetadataCriterion, PredicateComparesTheAttributeWithTheMomentItWasMade) {
    FileDateMetadataCriterion criterion(Key::lastUsed, Op::lessThan, day);
    auto before = std::chrono::system_clock::now();
    auto predicate = criterion.spotlightPredicate();
    auto after = std::chrono::system_clock::now();
    auto& comparison = dynamic_cast<const velmor::metadata::ComparisonPredicate&>(*predicate);
    EXPECT_EQ(comparison.keyPath(), "kMDItemLastUsedDate");
    EXPECT_EQ(comparison.operatorType(), Op::lessThan);
    EXPECT_EQ(comparison.options(), velmor::metadata::ComparisonOptions{});
    auto moment = std::get<velmor::metadata::Date>(comparison.constant());
    EXPECT_LE(secondsBefore(before, day), moment);
    EXPECT_GE(secondsBefore(after, day), moment);
    EXPECT_TRUE(predicate->predicateFormat().starts_with("kMDItemLastUsedDate < CAST("));
}

TEST(FileDateMetadataCriterion, IncludesEveryDateMetadataCriterion) {
    FileDateMetadataCriterion criterion(Key::lastUsed, Op::lessThan, day);
    EXPECT_TRUE(criterion.includes(FileDateMetadataCriterion(Key::downloaded, Op::greaterThan, 1)));
    EXPECT_FALSE(criterion.includes(*StatCriterionFactory::latestDateLongerAgoThan(day)));
    EXPECT_EQ(criterion.description(),
              "FileDateMetadataCriterion(key: lastUsed, comparator: 0, timeInterval: 86400)");
}

} // namespace
} // namespace sweepkit
