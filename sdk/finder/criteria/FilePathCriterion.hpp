#pragma once

#include "sdk/finder/criteria/FileMatchingCriterion.hpp"

namespace sweepkit {

// Entries whose path contains `pattern` as it is written (letter case counts). An empty pattern
// matches nothing. The index cannot search paths, so this criterion has no predicate.
class FilePathCriterion : public FileMatchingCriterion {
public:
    explicit FilePathCriterion(std::string pattern) : pattern_(std::move(pattern)) {}

    const std::string& pattern() const { return pattern_; }

    bool matches(const FileSystemItem& item) const override;
    // Throws `unsupportedCriterion` "FilePathCriterion".
    velmor::metadata::PredicatePointer spotlightPredicate() const override;
    bool includes(const FileMatchingCriterion& other) const override;
    std::string description() const override;

private:
    std::string pattern_;
};

} // namespace sweepkit
