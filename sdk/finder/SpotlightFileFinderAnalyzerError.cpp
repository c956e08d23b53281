#include "sdk/finder/SpotlightFileFinderAnalyzerError.hpp"

namespace sweepkit {

std::string SpotlightFileFinderAnalyzerError::caseDescription() const {
    switch (case_) {
    case Case::unsupportedCriterion:
        return "unsupportedCriterion(description: \"" + description_ + "\")";
    case Case::unsupportedValue:
        return "unsupportedValue(description: \"" + description_ + "\")";
    case Case::notIndexed:
        return "notIndexed";
    case Case::unsupportedComparaison:
        return "unsupportedComparaison";
    case Case::timeoutWaitingForResults:
        return "timeoutWaitingForResults";
    case Case::failedToAttachToResultHierarchy:
        return "failedToAttachToResultHierarchy";
    }
    return "unknown";
}

velmor::Error SpotlightFileFinderAnalyzerError::toError() const {
    return velmor::Error(domain, static_cast<std::int64_t>(case_),
                         {{velmor::Error::localizedDescriptionKey, caseDescription()}});
}

} // namespace sweepkit
