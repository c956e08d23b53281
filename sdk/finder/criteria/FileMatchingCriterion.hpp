#pragma once

#include "platform/metadata/Predicate.hpp"
#include "sdk/finder/records/FileSystemItem.hpp"

#include <memory>
#include <string>
#include <vector>

namespace sweepkit {

// Decides whether an entry belongs to a search result. Criteria are immutable and may be asked from
// any thread.
class FileMatchingCriterion {
public:
    virtual ~FileMatchingCriterion() = default;

    // An entry without a usable value simply does not match. Throws only when the answer cannot be
    // worked out (a name matcher's engine failing): that is an error for the entry, never an answer.
    virtual bool matches(const FileSystemItem& item) const = 0;
    // The same condition for the metadata index. Throws `SpotlightFileFinderAnalyzerError` when the
    // index cannot express it.
    virtual velmor::metadata::PredicatePointer spotlightPredicate() const = 0;
    // Whether this criterion holds `other`, judged from the criteria's kinds and values alone.
    virtual bool includes(const FileMatchingCriterion& other) const = 0;
    // The criterion as it prints in log lines, e.g. `FilePathCriterion(pattern: "/Caches/")`.
    virtual std::string description() const = 0;
};

using AnyFileMatchingCriterion = std::shared_ptr<const FileMatchingCriterion>;
// A list of criteria acts as all of them together: see `AndMatchingCriterion`.
using FileMatchingCriteria = std::vector<AnyFileMatchingCriterion>;

// "[a, b, ...]" of the criteria's descriptions.
std::string describe(const FileMatchingCriteria& criteria);
// The shortest text that reads back as `value`, for descriptions.
std::string describe(double value);

} // namespace sweepkit
