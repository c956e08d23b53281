#pragma once

#include "platform/metadata/ComparisonPredicate.hpp"
#include "sdk/finder/criteria/FileMatchingCriterion.hpp"

namespace sweepkit {

// Compares the latest of every date known for an entry (its four stat times and each date-metadata
// key) with a fixed moment, `value` seconds since 1970. Costly: it reads every date of the entry, so
// it belongs after cheaper criteria.
class LatestDateTimeIntervalCriterion : public FileMatchingCriterion {
public:
    LatestDateTimeIntervalCriterion(velmor::metadata::ComparisonOperator comparator, double value)
        : comparator_(comparator), value_(value) {}

    velmor::metadata::ComparisonOperator comparator() const { return comparator_; }
    double value() const { return value_; }

    // The latest date, in seconds since 1970. There always is one: the stat times are never missing.
    static double latestDate(const FileSystemItem& item);

    // An operator other than the six orderings: false.
    bool matches(const FileSystemItem& item) const override;
    // Throws `unsupportedCriterion` "LatestDateCriterion".
    velmor::metadata::PredicatePointer spotlightPredicate() const override;
    bool includes(const FileMatchingCriterion& other) const override;
    std::string description() const override;

private:
    velmor::metadata::ComparisonOperator comparator_;
    double value_;
};

} // namespace sweepkit
