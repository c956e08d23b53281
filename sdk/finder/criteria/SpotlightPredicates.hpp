#pragma once

#include "platform/metadata/Predicate.hpp"

namespace sweepkit {

// "kMDItemFSSize >= 0": every indexed file. Made once; always the same object, which is how the
// and-combinator recognises it.
const velmor::metadata::PredicatePointer& spotlightAlwaysTruePredicate();
// "kMDItemFSSize < 0": no file. Made once; always the same object.
const velmor::metadata::PredicatePointer& spotlightAlwaysFalsePredicate();

} // namespace sweepkit
