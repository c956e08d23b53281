#include "sdk/finder/criteria/AndMatchingCriterion.hpp"

#include "sdk/finder/criteria/CombinedPredicate.hpp"

#include <algorithm>

namespace sweepkit {

using velmor::metadata::CompoundPredicateType;
using velmor::metadata::PredicatePointer;

bool AndMatchingCriterion::matches(const FileSystemItem& item) const {
    if (criteria_.empty()) {
        return false;
    }
    return std::all_of(criteria_.begin(), criteria_.end(),
                       [&](const auto& part) { return part->matches(item); });
}

PredicatePointer AndMatchingCriterion::spotlightPredicate() const {
    return combinedPredicate(criteria_, CompoundPredicateType::and_);
}

bool AndMatchingCriterion::includes(const FileMatchingCriterion& other) const {
    return std::any_of(criteria_.begin(), criteria_.end(),
                       [&](const auto& part) { return part->includes(other); });
}

std::string AndMatchingCriterion::description() const {
    return "AndMatchingCriterion(criteria: " + describe(criteria_) + ")";
}

} // namespace sweepkit
