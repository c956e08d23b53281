#pragma once

#include "sdk/finder/criteria/FileMatchingCriterion.hpp"

namespace sweepkit {

// All parts together; also what a plain list of criteria means. Parts are asked in order and the
// first that fails decides, so cheap parts belong first. No parts match nothing.
class AndMatchingCriterion : public FileMatchingCriterion {
public:
    explicit AndMatchingCriterion(FileMatchingCriteria criteria) : criteria_(std::move(criteria)) {}

    const FileMatchingCriteria& criteria() const { return criteria_; }

    bool matches(const FileSystemItem& item) const override;
    // No parts: always false; one part: its own predicate object; several: an and over the parts'
    // predicates without the always-true one.
    velmor::metadata::PredicatePointer spotlightPredicate() const override;
    // True when any part includes `other`.
    bool includes(const FileMatchingCriterion& other) const override;
    std::string description() const override;

private:
    FileMatchingCriteria criteria_;
};

} // namespace sweepkit
