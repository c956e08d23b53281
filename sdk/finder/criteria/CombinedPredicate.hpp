#pragma once

#include "platform/metadata/CompoundPredicate.hpp"
#include "sdk/finder/criteria/FileMatchingCriterion.hpp"

namespace sweepkit {

// The predicate of an and- or or-combinator: always false without parts, the part's own predicate
// for one part, else a compound of `type` over the parts' predicates in order (the first error
// propagates). An and leaves out the shared always-true predicate, recognised by identity.
velmor::metadata::PredicatePointer combinedPredicate(const FileMatchingCriteria& criteria,
                                                     velmor::metadata::CompoundPredicateType type);

} // namespace sweepkit
