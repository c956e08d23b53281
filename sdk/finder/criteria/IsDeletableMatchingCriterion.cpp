#include "sdk/finder/criteria/IsDeletableMatchingCriterion.hpp"

#include "sdk/finder/criteria/SpotlightPredicates.hpp"

namespace sweepkit {

velmor::metadata::PredicatePointer IsDeletableMatchingCriterion::spotlightPredicate() const {
    return spotlightAlwaysTruePredicate();
}

} // namespace sweepkit
