#include "sdk/finder/criteria/OrMatchingCriterion.hpp"

#include "platform/metadata/CompoundPredicate.hpp"
#include "sdk/finder/criteria/SpotlightPredicates.hpp"

#include <algorithm>

namespace sweepkit {

using velmor::metadata::CompoundPredicate;
using velmor::metadata::CompoundPredicateType;
using velmor::metadata::PredicatePointer;

bool OrMatchingCriterion::matches(const FileSystemItem& item) const {
    return std::any_of(criteria_.begin(), criteria_.end(),
                       [&](const auto& part) { return part->matches(item); });
}

PredicatePointer OrMatchingCriterion::spotlightPredicate() const {
    if (criteria_.empty()) {
        return spotlightAlwaysFalsePredicate();
    }
    if (criteria_.size() == 1) {
        return criteria_.front()->spotlightPredicate();
    }
    std::vector<PredicatePointer> predicates;
    for (const auto& part : criteria_) {
        predicates.push_back(part->spotlightPredicate());
    }
    return CompoundPredicate::make(CompoundPredicateType::or_, std::move(predicates));
}

bool OrMatchingCriterion::includes(const FileMatchingCriterion& other) const {
    return criteria_.size() == 1 && criteria_.front()->includes(other);
}

std::string OrMatchingCriterion::description() const {
    return "OrMatchingCriterion(criteria: " + describe(criteria_) + ")";
}

} // namespace sweepkit
