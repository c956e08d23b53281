#pragma once

#include "platform/regex/RegularExpression.hpp"
#include "sdk/finder/criteria/FileMatchingCriterion.hpp"

namespace sweepkit {

// Entries whose name matches a wildcard or has an extension, in any letter case. The expression and
// the predicate are made once, when the criterion is; matching only runs the expression.
class FileNameCriterion : public FileMatchingCriterion {
public:
    // "*" stands for any run of characters, everything else for itself ("a?c" needs a real question
    // mark). The predicate hands the pattern to the index as it is, where "?" is a wildcard too.
    // Throws the expression's error when it cannot be compiled.
    static FileNameCriterion initWithWildcard(const std::string& pattern);
    // Leading and trailing dots of `extension` are ignored: ".log" and "log" are the same.
    static FileNameCriterion initWithExtension(const std::string& extension);

    const velmor::RegularExpression& regularExpression() const { return regularExpression_; }

    // The whole name must match. A name that is not valid UTF-8 is read as its lossy decoding.
    bool matches(const FileSystemItem& item) const override;
    velmor::metadata::PredicatePointer spotlightPredicate() const override { return spotlightPredicate_; }
    // True for a name criterion with an equal expression.
    bool includes(const FileMatchingCriterion& other) const override;
    std::string description() const override;

private:
    // `wildcards`: how many runs of any characters the expression holds.
    FileNameCriterion(std::string expression, std::string indexPattern, std::size_t wildcards);

    velmor::RegularExpression regularExpression_;
    velmor::metadata::PredicatePointer spotlightPredicate_;
};

} // namespace sweepkit
