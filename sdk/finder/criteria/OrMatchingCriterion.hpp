#pragma once

#include "sdk/finder/criteria/FileMatchingCriterion.hpp"

namespace sweepkit {

// Any of the parts. Parts are asked in order and the first that matches decides. No parts match
// nothing.
class OrMatchingCriterion : public FileMatchingCriterion {
public:
    explicit OrMatchingCriterion(FileMatchingCriteria criteria) : criteria_(std::move(criteria)) {}

    const FileMatchingCriteria& criteria() const { return criteria_; }

    bool matches(const FileSystemItem& item) const override;
    // No parts: always false; one part: its own predicate object; several: an or over all of them.
    velmor::metadata::PredicatePointer spotlightPredicate() const override;
    // Only a one-part or includes anything: what its part includes.
    bool includes(const FileMatchingCriterion& other) const override;
    std::string description() const override;

private:
    FileMatchingCriteria criteria_;
};

} // namespace sweepkit
