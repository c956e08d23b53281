#include "sdk/finder/criteria/LatestDateTimeIntervalCriterion.hpp"

#include "sdk/finder/SpotlightFileFinderAnalyzerError.hpp"
#include "sdk/finder/criteria/Comparison.hpp"
#include "sdk/finder/criteria/FileDateMetadataCriterion.hpp"
#include "sdk/finder/criteria/StatTimeIntervals.hpp"

#include <algorithm>

namespace sweepkit {

double LatestDateTimeIntervalCriterion::latestDate(const FileSystemItem& item) {
    const auto& stat = item.metadata;
    double latest = std::max({timeInterval(stat.st_ctimespec), timeInterval(stat.st_mtimespec),
                              timeInterval(stat.st_birthtimespec), timeInterval(stat.st_atimespec)});
    for (const auto& date : FileDateMetadataCriterion::resolveDates(item)) {
        if (date) {
            latest = std::max(latest, secondsSince1970(*date));
        }
    }
    return latest;
}

bool LatestDateTimeIntervalCriterion::matches(const FileSystemItem& item) const {
    return compare(latestDate(item), comparator_, value_).value_or(false);
}

velmor::metadata::PredicatePointer LatestDateTimeIntervalCriterion::spotlightPredicate() const {
    throw SpotlightFileFinderAnalyzerError::unsupportedCriterion("LatestDateCriterion");
}

bool LatestDateTimeIntervalCriterion::includes(const FileMatchingCriterion& other) const {
    return dynamic_cast<const LatestDateTimeIntervalCriterion*>(&other) != nullptr;
}

std::string LatestDateTimeIntervalCriterion::description() const {
    return "LatestDateTimeIntervalCriterion(comparator: " + std::to_string(rawValue(comparator_)) +
           ", value: " + describe(value_) + ")";
}

} // namespace sweepkit
