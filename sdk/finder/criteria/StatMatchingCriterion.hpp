#pragma once

#include "platform/metadata/ComparisonPredicate.hpp"
#include "platform/metadata/MetadataAttributes.hpp"
#include "sdk/finder/SpotlightFileFinderAnalyzerError.hpp"
#include "sdk/finder/criteria/Comparison.hpp"
#include "sdk/finder/criteria/FileMatchingCriterion.hpp"
#include "sdk/finder/criteria/StatKeyPath.hpp"

#include <cstdint>
#include <type_traits>

namespace sweepkit {

// Compares one value of the entry's stat record (a time, an age or the size) with a constant, the
// entry's value on the left.
template <typename T> class StatMatchingCriterion : public FileMatchingCriterion {
public:
    StatMatchingCriterion(T value, StatKeyPath<T> keyPath,
                          velmor::metadata::ComparisonOperator comparaisonPredicate)
        : value_(value), keyPath_(keyPath), comparaisonPredicate_(comparaisonPredicate) {}

    T value() const { return value_; }
    const StatKeyPath<T>& keyPath() const { return keyPath_; }
    velmor::metadata::ComparisonOperator comparaisonPredicate() const { return comparaisonPredicate_; }

    // An operator other than the six orderings matches nothing.
    bool matches(const FileSystemItem& item) const override {
        return compare(keyPath_(item.metadata), comparaisonPredicate_, value_).value_or(false);
    }

    // Only the size has an index form: "kMDItemFSSize OP value". Times throw `unsupportedValue`, any
    // other value (the ages among them) `unsupportedCriterion`.
    velmor::metadata::PredicatePointer spotlightPredicate() const override {
        if constexpr (std::is_same_v<T, std::int64_t>) {
            if (keyPath_ == statKeyPaths::size) {
                return velmor::metadata::ComparisonPredicate::make(velmor::metadata::NSMetadataItemFSSizeKey,
                                                                   comparaisonPredicate_, value_);
            }
        } else if constexpr (std::is_same_v<T, double>) {
            if (keyPath_ == statKeyPaths::modificationTimeInterval ||
                keyPath_ == statKeyPaths::statusChangeTimeInterval ||
                keyPath_ == statKeyPaths::accessTimeInterval) {
                throw SpotlightFileFinderAnalyzerError::unsupportedValue("date-based request");
            }
        }
        throw SpotlightFileFinderAnalyzerError::unsupportedCriterion("StatMatching criterion on " +
                                                                     keyPath_.description());
    }

    // True for a stat criterion over the same value type with equal key path, operator and value.
    bool includes(const FileMatchingCriterion& other) const override {
        auto stat = dynamic_cast<const StatMatchingCriterion*>(&other);
        return stat != nullptr && stat->keyPath_ == keyPath_ &&
               stat->comparaisonPredicate_ == comparaisonPredicate_ && stat->value_ == value_;
    }

    std::string description() const override {
        std::string type = std::is_same_v<T, double> ? "Double" : "Int64";
        std::string value;
        if constexpr (std::is_floating_point_v<T>) {
            value = describe(value_);
        } else {
            value = std::to_string(value_);
        }
        return "StatMatchingCriterion<" + type + ">(value: " + value +
               ", keyPath: " + keyPath_.description() +
               ", comparaisonPredicate: " + std::to_string(rawValue(comparaisonPredicate_)) + ")";
    }

private:
    T value_;
    StatKeyPath<T> keyPath_;
    velmor::metadata::ComparisonOperator comparaisonPredicate_;
};

} // namespace sweepkit
