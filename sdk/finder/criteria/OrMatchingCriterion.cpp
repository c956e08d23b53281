#include "sdk/finder/criteria/OrMatchingCriterion.hpp"

#include "sdk/finder/criteria/CombinedPredicate.hpp"

#include <algorithm>

namespace sweepkit {

using velmor::metadata::CompoundPredicateType;
using velmor::metadata::PredicatePointer;

bool OrMatchingCriterion::matches(const FileSystemItem& item) const {
    return std::any_of(criteria_.begin(), criteria_.end(),
                       [&](const auto& part) { return part->matches(item); });
}

PredicatePointer OrMatchingCriterion::spotlightPredicate() const {
    return combinedPredicate(criteria_, CompoundPredicateType::or_);
}

bool OrMatchingCriterion::includes(const FileMatchingCriterion& other) const {
    return criteria_.size() == 1 && criteria_.front()->includes(other);
}

std::string OrMatchingCriterion::description() const {
    return "OrMatchingCriterion(criteria: " + describe(criteria_) + ")";
}

} // namespace sweepkit
