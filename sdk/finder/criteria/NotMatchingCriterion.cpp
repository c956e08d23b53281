#include "sdk/finder/criteria/NotMatchingCriterion.hpp"

#include "platform/metadata/CompoundPredicate.hpp"
#include "sdk/finder/criteria/IsDeletableMatchingCriterion.hpp"
#include "sdk/finder/criteria/SpotlightPredicates.hpp"

namespace sweepkit {

velmor::metadata::PredicatePointer NotMatchingCriterion::spotlightPredicate() const {
    if (dynamic_cast<const IsDeletableMatchingCriterion*>(criterion_.get()) != nullptr) {
        return spotlightAlwaysTruePredicate();
    }
    return velmor::metadata::CompoundPredicate::make(velmor::metadata::CompoundPredicateType::not_,
                                                     {criterion_->spotlightPredicate()});
}

bool NotMatchingCriterion::includes(const FileMatchingCriterion& other) const {
    auto negation = dynamic_cast<const NotMatchingCriterion*>(&other);
    return negation != nullptr && negation->criterion_->includes(*criterion_);
}

std::string NotMatchingCriterion::description() const {
    return "NotMatchingCriterion(criterion: " + criterion_->description() + ")";
}

} // namespace sweepkit
