#include "sdk/finder/criteria/SpotlightPredicates.hpp"

#include "platform/metadata/ComparisonPredicate.hpp"
#include "platform/metadata/MetadataAttributes.hpp"

namespace sweepkit {

using velmor::metadata::ComparisonOperator;
using velmor::metadata::ComparisonPredicate;

const velmor::metadata::PredicatePointer& spotlightAlwaysTruePredicate() {
    static const auto predicate = ComparisonPredicate::make(
        velmor::metadata::NSMetadataItemFSSizeKey, ComparisonOperator::greaterThanOrEqualTo, std::int64_t{0});
    return predicate;
}

const velmor::metadata::PredicatePointer& spotlightAlwaysFalsePredicate() {
    static const auto predicate = ComparisonPredicate::make(velmor::metadata::NSMetadataItemFSSizeKey,
                                                            ComparisonOperator::lessThan, std::int64_t{0});
    return predicate;
}

} // namespace sweepkit
