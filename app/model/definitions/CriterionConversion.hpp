#pragma once

#include "app/model/definitions/EncodableFileMatchingCriterion.hpp"
#include "sdk/finder/criteria/FileMatchingCriterion.hpp"

namespace marrowdale {

// The SDK criterion a stored rule stands for. Throws what a name criterion throws for a pattern that
// does not compile; a failure anywhere fails the whole tree. Limits such as "latest date more than N
// seconds ago" are fixed against the clock now.
sweepkit::AnyFileMatchingCriterion fileMatchingCriterion(const EncodableFileMatchingCriterion& criterion);

} // namespace marrowdale
