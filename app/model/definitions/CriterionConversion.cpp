#include "app/model/definitions/CriterionConversion.hpp"

#include "sdk/finder/criteria/AndMatchingCriterion.hpp"
#include "sdk/finder/criteria/FileNameCriterion.hpp"
#include "sdk/finder/criteria/IsDeletableMatchingCriterion.hpp"
#include "sdk/finder/criteria/NotMatchingCriterion.hpp"
#include "sdk/finder/criteria/OrMatchingCriterion.hpp"
#include "sdk/finder/criteria/StatCriterionFactory.hpp"

namespace marrowdale {

using Kind = EncodableFileMatchingCriterion::Kind;
using sweepkit::AnyFileMatchingCriterion;
using sweepkit::StatCriterionFactory;

namespace {

StatCriterionFactory::Date toDate(velmor::coding::Date date) {
    return date.timePoint();
}

sweepkit::FileMatchingCriteria convertAll(const std::vector<EncodableFileMatchingCriterion>& criteria) {
    sweepkit::FileMatchingCriteria converted;
    converted.reserve(criteria.size());
    for (const auto& criterion : criteria) {
        converted.push_back(fileMatchingCriterion(criterion));
    }
    return converted;
}

} // namespace

AnyFileMatchingCriterion fileMatchingCriterion(const EncodableFileMatchingCriterion& criterion) {
    switch (criterion.kind()) {
    case Kind::fileIsDeletable:
        return std::make_shared<sweepkit::IsDeletableMatchingCriterion>();
    case Kind::fileCaseInsensitiveName:
        return std::make_shared<sweepkit::FileNameCriterion>(
            sweepkit::FileNameCriterion::initWithWildcard(criterion.text()));
    case Kind::fileCaseInsensitiveExtension:
        return std::make_shared<sweepkit::FileNameCriterion>(
            sweepkit::FileNameCriterion::initWithExtension(criterion.text()));
    case Kind::fileModifiedBefore:
        return StatCriterionFactory::modifiedBefore(toDate(criterion.date()));
    case Kind::fileModifiedAfter:
        return StatCriterionFactory::modifiedAfter(toDate(criterion.date()));
    case Kind::fileNotModifiedInLast:
        return StatCriterionFactory::modifiedLongerAgoThan(criterion.seconds());
    case Kind::fileOpenedBefore:
        return StatCriterionFactory::accessedBefore(toDate(criterion.date()));
    case Kind::fileOpenedAfter:
        return StatCriterionFactory::accessedAfter(toDate(criterion.date()));
    case Kind::fileNotOpenedInLast:
        return StatCriterionFactory::accessedLongerAgoThan(criterion.seconds());
    // "Created" is the status-change time, the one the walk's record holds.
    case Kind::fileCreatedBefore:
        return StatCriterionFactory::changedBefore(toDate(criterion.date()));
    case Kind::fileCreatedAfter:
        return StatCriterionFactory::changedAfter(toDate(criterion.date()));
    case Kind::fileNotCreatedInLast:
        return StatCriterionFactory::changedLongerAgoThan(criterion.seconds());
    case Kind::fileAddedBefore:
        return StatCriterionFactory::addedLongerAgoThan(criterion.seconds());
    case Kind::latestDateNotInLast:
        return StatCriterionFactory::latestDateLongerAgoThan(criterion.seconds());
    case Kind::fileSizeLower:
        return StatCriterionFactory::sizeLessThan(criterion.bytes());
    case Kind::fileSizeGreater:
        return StatCriterionFactory::sizeGreaterThan(criterion.bytes());
    case Kind::fileSizeEqual:
        return StatCriterionFactory::sizeEqualTo(criterion.bytes());
    case Kind::and_:
        return std::make_shared<sweepkit::AndMatchingCriterion>(convertAll(criterion.subcriteria()));
    case Kind::or_:
        return std::make_shared<sweepkit::OrMatchingCriterion>(convertAll(criterion.subcriteria()));
    case Kind::not_:
        return std::make_shared<sweepkit::NotMatchingCriterion>(
            fileMatchingCriterion(criterion.subcriteria().front()));
    }
    throw std::logic_error("unknown criterion kind");
}

} // namespace marrowdale
