#include "sdk/finder/criteria/StatCriterionFactory.hpp"

namespace sweepkit {

using Op = velmor::metadata::ComparisonOperator;
using TimeCriterion = StatCriterionFactory::TimeCriterion;
using SizeCriterion = StatCriterionFactory::SizeCriterion;

namespace {

TimeCriterion time(const StatKeyPath<double>& keyPath, double value, Op op) {
    return std::make_shared<const StatMatchingCriterion<double>>(value, keyPath, op);
}

SizeCriterion size(std::int64_t bytes, Op op) {
    return std::make_shared<const StatMatchingCriterion<std::int64_t>>(bytes, statKeyPaths::size, op);
}

} // namespace

TimeCriterion StatCriterionFactory::modifiedBefore(Date date) {
    return time(statKeyPaths::modificationTimeInterval, secondsSince1970(date), Op::lessThan);
}
TimeCriterion StatCriterionFactory::modifiedAfter(Date date) {
    return time(statKeyPaths::modificationTimeInterval, secondsSince1970(date), Op::greaterThan);
}
TimeCriterion StatCriterionFactory::modifiedLongerAgoThan(double seconds) {
    return time(statKeyPaths::secondsSinceModification, seconds, Op::greaterThan);
}
TimeCriterion StatCriterionFactory::accessedBefore(Date date) {
    return time(statKeyPaths::accessTimeInterval, secondsSince1970(date), Op::lessThan);
}
TimeCriterion StatCriterionFactory::accessedAfter(Date date) {
    return time(statKeyPaths::accessTimeInterval, secondsSince1970(date), Op::greaterThan);
}
TimeCriterion StatCriterionFactory::accessedLongerAgoThan(double seconds) {
    return time(statKeyPaths::secondsSinceAccess, seconds, Op::greaterThan);
}
TimeCriterion StatCriterionFactory::changedBefore(Date date) {
    return time(statKeyPaths::statusChangeTimeInterval, secondsSince1970(date), Op::lessThan);
}
TimeCriterion StatCriterionFactory::changedAfter(Date date) {
    return time(statKeyPaths::statusChangeTimeInterval, secondsSince1970(date), Op::greaterThan);
}
TimeCriterion StatCriterionFactory::changedLongerAgoThan(double seconds) {
    return time(statKeyPaths::secondsSinceStatusChange, seconds, Op::greaterThan);
}
SizeCriterion StatCriterionFactory::sizeLessThan(std::int64_t bytes) {
    return size(bytes, Op::lessThan);
}
SizeCriterion StatCriterionFactory::sizeGreaterThan(std::int64_t bytes) {
    return size(bytes, Op::greaterThan);
}
SizeCriterion StatCriterionFactory::sizeEqualTo(std::int64_t bytes) {
    return size(bytes, Op::equalTo);
}

std::shared_ptr<const FileDateMetadataCriterion> StatCriterionFactory::addedLongerAgoThan(double seconds) {
    return std::make_shared<const FileDateMetadataCriterion>(FileDateMetadataCriterion::Key::addedToDirectory,
                                                             Op::lessThan, seconds);
}

std::shared_ptr<const LatestDateTimeIntervalCriterion>
StatCriterionFactory::latestDateLongerAgoThan(double seconds) {
    return std::make_shared<const LatestDateTimeIntervalCriterion>(
        Op::lessThan, secondsSince1970(secondsBefore(std::chrono::system_clock::now(), seconds)));
}

} // namespace sweepkit
