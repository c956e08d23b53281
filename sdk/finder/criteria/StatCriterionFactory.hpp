#pragma once

#include "sdk/finder/criteria/FileDateMetadataCriterion.hpp"
#include "sdk/finder/criteria/LatestDateTimeIntervalCriterion.hpp"
#include "sdk/finder/criteria/StatMatchingCriterion.hpp"

#include <chrono>
#include <cstdint>
#include <memory>

namespace sweepkit {

// The ready-made time and size criteria. "Before" and "after" compare a stat time with a date;
// "longer ago than" compares an age with a number of seconds.
struct StatCriterionFactory {
    using Date = std::chrono::system_clock::time_point;
    using TimeCriterion = std::shared_ptr<const StatMatchingCriterion<double>>;
    using SizeCriterion = std::shared_ptr<const StatMatchingCriterion<std::int64_t>>;

    StatCriterionFactory() = delete;

    static TimeCriterion modifiedBefore(Date date);
    static TimeCriterion modifiedAfter(Date date);
    static TimeCriterion modifiedLongerAgoThan(double seconds);
    static TimeCriterion accessedBefore(Date date);
    static TimeCriterion accessedAfter(Date date);
    static TimeCriterion accessedLongerAgoThan(double seconds);
    // "Changed" is the status-change time.
    static TimeCriterion changedBefore(Date date);
    static TimeCriterion changedAfter(Date date);
    static TimeCriterion changedLongerAgoThan(double seconds);
    static SizeCriterion sizeLessThan(std::int64_t bytes);
    static SizeCriterion sizeGreaterThan(std::int64_t bytes);
    static SizeCriterion sizeEqualTo(std::int64_t bytes);
    // Added to its folder more than `seconds` ago.
    static std::shared_ptr<const FileDateMetadataCriterion> addedLongerAgoThan(double seconds);
    // No date of the entry within the last `seconds`, counted from when the criterion is made.
    static std::shared_ptr<const LatestDateTimeIntervalCriterion> latestDateLongerAgoThan(double seconds);
};

} // namespace sweepkit
