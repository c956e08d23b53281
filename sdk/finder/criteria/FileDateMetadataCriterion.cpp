#include "sdk/finder/criteria/FileDateMetadataCriterion.hpp"

#include "platform/coding/Value.hpp"
#include "platform/error/Error.hpp"
#include "platform/metadata/MetadataAttributes.hpp"
#include "platform/metadata/MetadataItem.hpp"
#include "sdk/finder/records/CurrentRecordScope.hpp"
#include "sdk/finder/criteria/Comparison.hpp"

#include <cmath>
#include <span>
#include <vector>

namespace sweepkit {

using Key = FileDateMetadataCriterion::Key;
using Date = FileDateMetadataCriterion::Date;
namespace md = velmor::metadata;

namespace {

struct KeyEntry {
    const char* rawValue;
    std::optional<velmor::DateResourceKey> resource;
    const char* attribute;
};

// Indexed by the key's case.
const KeyEntry keyTable[] = {
    {"lastUsed", std::nullopt, md::NSMetadataItemLastUsedDateKey},
    {"fsCreation", std::nullopt, md::NSMetadataItemFSCreationDateKey},
    {"contentCreation", velmor::DateResourceKey::creationDate, md::NSMetadataItemContentCreationDateKey},
    {"addedToDirectory", velmor::DateResourceKey::addedToDirectoryDate, md::NSMetadataItemDateAddedKey},
    {"attributeChanged", velmor::DateResourceKey::attributeModificationDate,
     md::NSMetadataItemAttributeChangeDateKey},
    {"due", std::nullopt, md::NSMetadataItemDueDateKey},
    {"fsContentModified", std::nullopt, md::NSMetadataItemFSContentChangeDateKey},
    {"modifiedContent", velmor::DateResourceKey::contentModificationDate,
     md::NSMetadataItemContentModificationDateKey},
    {"downloaded", std::nullopt, md::NSMetadataItemDownloadedDateKey},
};

const KeyEntry& entry(Key key) {
    return keyTable[static_cast<std::size_t>(key)];
}

// The file dates of every key, asked of the file together.
std::span<const velmor::DateResourceKey> fileDateKeys() {
    static const std::vector<velmor::DateResourceKey> keys = [] {
        std::vector<velmor::DateResourceKey> all;
        for (const auto& row : keyTable) {
            if (row.resource) {
                all.push_back(*row.resource);
            }
        }
        return all;
    }();
    return keys;
}

} // namespace

Date secondsBefore(Date now, double seconds) {
    // Exact to the clock's tick where the limit and the result fit the clock; otherwise saturated
    // at its range, so a limit of any size (or an infinite one) cannot overflow it.
    constexpr double largestExactSeconds = 9e9;
    if (std::isfinite(seconds) && std::abs(seconds) < largestExactSeconds) {
        const auto offset =
            std::chrono::duration_cast<Date::duration>(std::chrono::duration<double>(seconds));
        Date::rep result = 0;
        if (!__builtin_sub_overflow(now.time_since_epoch().count(), offset.count(), &result)) {
            return Date(Date::duration(result));
        }
    }
    return velmor::coding::Date::timePointSince1970(secondsSince1970(now) - seconds);
}

double secondsSince1970(Date date) {
    return std::chrono::duration<double>(date.time_since_epoch()).count();
}

const char* FileDateMetadataCriterion::rawValue(Key key) {
    return entry(key).rawValue;
}

std::optional<Key> FileDateMetadataCriterion::keyFromRawValue(std::string_view text) {
    for (Key key : allKeys) {
        if (text == rawValue(key)) {
            return key;
        }
    }
    return std::nullopt;
}

std::optional<velmor::DateResourceKey> FileDateMetadataCriterion::resourceKey(Key key) {
    return entry(key).resource;
}

const char* FileDateMetadataCriterion::metadataAttribute(Key key) {
    return entry(key).attribute;
}

namespace {

std::optional<Date> indexDate(Key key, const FileSystemItem& item) {
    auto metadataItem = md::MetadataItem::forURL(item.url);
    if (!metadataItem) {
        return std::nullopt;
    }
    auto value = metadataItem->valueForAttribute(FileDateMetadataCriterion::metadataAttribute(key));
    auto date = value ? value->get<velmor::coding::Date>() : nullptr;
    if (date == nullptr) {
        return std::nullopt;
    }
    return date->timePoint();
}

// The file dates `keys` of the item: taken from its record where the walk read that just now, so
// that the file is asked only for what the record lacks; read from the file otherwise.
velmor::DateResourceValues readFileDates(const FileSystemItem& item,
                                         std::span<const velmor::DateResourceKey> keys) {
    if (CurrentRecordScope::holds(item)) {
        return velmor::dateResourceValues(item.url, item.metadata, keys);
    }
    return velmor::dateResourceValues(item.url, keys);
}

} // namespace

std::optional<Date> FileDateMetadataCriterion::resolveDate(Key key, const FileSystemItem& item) {
    if (auto resource = resourceKey(key)) {
        try {
            return readFileDates(item, {&*resource, 1})[*resource];
        } catch (const std::exception&) {
            return std::nullopt; // an unreadable file has no date; the index is not asked instead
        }
    }
    return indexDate(key, item);
}

std::array<std::optional<Date>, FileDateMetadataCriterion::allKeys.size()>
FileDateMetadataCriterion::resolveDates(const FileSystemItem& item) {
    std::array<std::optional<Date>, allKeys.size()> dates;
    std::optional<velmor::DateResourceValues> fileDates;
    try {
        fileDates = readFileDates(item, fileDateKeys());
    } catch (const std::exception&) {
        // An unreadable file has none of its file dates, as each read alone would find.
    }
    for (Key key : allKeys) {
        auto& date = dates[static_cast<std::size_t>(key)];
        if (auto resource = resourceKey(key)) {
            if (fileDates) {
                date = (*fileDates)[*resource];
            }
        } else {
            date = indexDate(key, item);
        }
    }
    return dates;
}

bool FileDateMetadataCriterion::matches(const FileSystemItem& item) const {
    auto date = resolveDate(key_, item);
    if (!date) {
        return false;
    }
    return compare(*date, comparator_, secondsBefore(std::chrono::system_clock::now(), timeInterval_))
        .value_or(false);
}

md::PredicatePointer FileDateMetadataCriterion::spotlightPredicate() const {
    return md::ComparisonPredicate::make(metadataAttribute(key_), comparator_,
                                         secondsBefore(std::chrono::system_clock::now(), timeInterval_));
}

bool FileDateMetadataCriterion::includes(const FileMatchingCriterion& other) const {
    return dynamic_cast<const FileDateMetadataCriterion*>(&other) != nullptr;
}

std::string FileDateMetadataCriterion::description() const {
    return std::string("FileDateMetadataCriterion(key: ") + rawValue(key_) +
           ", comparator: " + std::to_string(sweepkit::rawValue(comparator_)) +
           ", timeInterval: " + describe(timeInterval_) + ")";
}

} // namespace sweepkit

namespace velmor::coding {

Value Coding<sweepkit::FileDateMetadataCriterion::Key>::encode(sweepkit::FileDateMetadataCriterion::Key key) {
    return sweepkit::FileDateMetadataCriterion::rawValue(key);
}

sweepkit::FileDateMetadataCriterion::Key
Coding<sweepkit::FileDateMetadataCriterion::Key>::decode(const Decoder& decoder) {
    auto text = decoder.as<std::string>();
    if (auto key = sweepkit::FileDateMetadataCriterion::keyFromRawValue(text)) {
        return *key;
    }
    decoder.dataCorrupted("Cannot initialize Key from invalid String value " + text);
}

} // namespace velmor::coding
