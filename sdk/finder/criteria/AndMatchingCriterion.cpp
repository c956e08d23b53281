#include "sdk/finder/criteria/AndMatchingCriterion.hpp"

#include "platform/metadata/CompoundPredicate.hpp"
#include "sdk/finder/criteria/SpotlightPredicates.hpp"

#include <algorithm>

namespace sweepkit {

using velmor::metadata::CompoundPredicate;
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
    // Only the shared always-true object is dropped; an equal predicate made elsewhere stays.
    std::erase(predicates, spotlightAlwaysTruePredicate());
    return CompoundPredicate::make(CompoundPredicateType::and_, std::move(predicates));
}

bool AndMatchingCriterion::includes(const FileMatchingCriterion& other) const {
    return std::any_of(criteria_.begin(), criteria_.end(),
                       [&](const auto& part) { return part->includes(other); });
}

std::string AndMatchingCriterion::description() const {
    return "AndMatchingCriterion(criteria: " + describe(criteria_) + ")";
}

} // namespace sweepkit
