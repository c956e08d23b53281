#include "sdk/finder/criteria/FilePathCriterion.hpp"

#include "sdk/finder/SpotlightFileFinderAnalyzerError.hpp"
#include "sdk/finder/criteria/URLViews.hpp"

namespace sweepkit {

bool FilePathCriterion::matches(const FileSystemItem& item) const {
    // Searched in the path's own bytes; an empty pattern is found nowhere, as with the platform's
    // substring test.
    return !pattern_.empty() && pathView(item.url).find(pattern_) != std::string::npos;
}

velmor::metadata::PredicatePointer FilePathCriterion::spotlightPredicate() const {
    throw SpotlightFileFinderAnalyzerError::unsupportedCriterion("FilePathCriterion");
}

bool FilePathCriterion::includes(const FileMatchingCriterion& other) const {
    auto path = dynamic_cast<const FilePathCriterion*>(&other);
    return path != nullptr && path->pattern_ == pattern_;
}

std::string FilePathCriterion::description() const {
    return "FilePathCriterion(pattern: \"" + pattern_ + "\")";
}

} // namespace sweepkit
