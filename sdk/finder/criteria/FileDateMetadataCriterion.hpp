#pragma once

#include "platform/coding/Decoding.hpp"
#include "platform/fs/ResourceValues.hpp"
#include "platform/metadata/ComparisonPredicate.hpp"
#include "sdk/finder/criteria/FileMatchingCriterion.hpp"

#include <array>
#include <chrono>
#include <optional>
#include <string_view>

namespace sweepkit {

// Compares one named date of an entry with the moment `timeInterval` seconds before now, taken
// afresh at every evaluation.
class FileDateMetadataCriterion : public FileMatchingCriterion {
public:
    using Date = std::chrono::system_clock::time_point;

    enum class Key {
        lastUsed,
        fsCreation,
        contentCreation,
        addedToDirectory,
        attributeChanged,
        due,
        fsContentModified,
        modifiedContent,
        downloaded,
    };
    static constexpr std::array<Key, 9> allKeys = {
        Key::lastUsed,          Key::fsCreation,       Key::contentCreation,
        Key::addedToDirectory,  Key::attributeChanged, Key::due,
        Key::fsContentModified, Key::modifiedContent,  Key::downloaded,
    };

    // The case name, e.g. "fsCreation".
    static const char* rawValue(Key key);
    static std::optional<Key> keyFromRawValue(std::string_view text);
    // The file date read first for the key; nothing for the keys that only the metadata index knows.
    static std::optional<velmor::DateResourceKey> resourceKey(Key key);
    // The metadata attribute of the key, also used in its predicate.
    static const char* metadataAttribute(Key key);
    // The key's date for the item: from the file when the key has a file date (a read failure gives
    // nothing, without asking the index), else from the index. Nothing when neither has it. The file's
    // dates are taken from the item's record where a walk has just read it (`CurrentRecordScope`).
    static std::optional<Date> resolveDate(Key key, const FileSystemItem& item);
    // Every key's date for the item as `resolveDate` gives it, indexed by the key's case, with the
    // file read once for all the file dates.
    static std::array<std::optional<Date>, allKeys.size()> resolveDates(const FileSystemItem& item);

    FileDateMetadataCriterion(Key key, velmor::metadata::ComparisonOperator comparator, double timeInterval)
        : key_(key), comparator_(comparator), timeInterval_(timeInterval) {}

    Key key() const { return key_; }
    velmor::metadata::ComparisonOperator comparator() const { return comparator_; }
    double timeInterval() const { return timeInterval_; }

    // No date, or an operator other than the six orderings: false.
    bool matches(const FileSystemItem& item) const override;
    // "<attribute> OP <now - timeInterval>", the moment taken when the predicate is made.
    velmor::metadata::PredicatePointer spotlightPredicate() const override;
    // True for any other date-metadata criterion.
    bool includes(const FileMatchingCriterion& other) const override;
    std::string description() const override;

private:
    Key key_;
    velmor::metadata::ComparisonOperator comparator_;
    double timeInterval_;
};

// The moment `seconds` before `now`.
FileDateMetadataCriterion::Date secondsBefore(FileDateMetadataCriterion::Date now, double seconds);
// Seconds since 1970 of a moment, with its fraction.
double secondsSince1970(FileDateMetadataCriterion::Date date);

} // namespace sweepkit

// Stored as its raw value; any other text fails as corrupted data.
template <> struct velmor::coding::Coding<sweepkit::FileDateMetadataCriterion::Key> {
    static Value encode(sweepkit::FileDateMetadataCriterion::Key key);
    static sweepkit::FileDateMetadataCriterion::Key decode(const Decoder& decoder);
};
