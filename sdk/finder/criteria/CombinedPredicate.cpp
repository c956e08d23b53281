#include "sdk/finder/criteria/CombinedPredicate.hpp"

#include "sdk/finder/criteria/SpotlightPredicates.hpp"

namespace sweepkit {

using velmor::metadata::CompoundPredicate;
using velmor::metadata::CompoundPredicateType;
using velmor::metadata::PredicatePointer;

PredicatePointer combinedPredicate(const FileMatchingCriteria& criteria, CompoundPredicateType type) {
    if (criteria.empty()) {
        return spotlightAlwaysFalsePredicate();
    }
    if (criteria.size() == 1) {
        return criteria.front()->spotlightPredicate();
    }
    std::vector<PredicatePointer> predicates;
    predicates.reserve(criteria.size());
    for (const auto& part : criteria) {
        predicates.push_back(part->spotlightPredicate());
    }
    if (type == CompoundPredicateType::and_) {
        // Only the shared object is dropped; an equal predicate made elsewhere stays.
        std::erase(predicates, spotlightAlwaysTruePredicate());
    }
    return CompoundPredicate::make(type, std::move(predicates));
}

} // namespace sweepkit
