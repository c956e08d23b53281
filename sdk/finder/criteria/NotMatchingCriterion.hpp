#pragma once

#include "sdk/finder/criteria/FileMatchingCriterion.hpp"

namespace sweepkit {

// The negation of one criterion.
class NotMatchingCriterion : public FileMatchingCriterion {
public:
    explicit NotMatchingCriterion(AnyFileMatchingCriterion criterion) : criterion_(std::move(criterion)) {}

    const AnyFileMatchingCriterion& criterion() const { return criterion_; }

    bool matches(const FileSystemItem& item) const override { return !criterion_->matches(item); }
    // The index cannot tell deletability, so "not deletable" asks for every file (the walk decides
    // later); anything else is a not over the inner predicate.
    velmor::metadata::PredicatePointer spotlightPredicate() const override;
    // True for another negation whose inner criterion includes this one's.
    bool includes(const FileMatchingCriterion& other) const override;
    std::string description() const override;

private:
    AnyFileMatchingCriterion criterion_;
};

} // namespace sweepkit
