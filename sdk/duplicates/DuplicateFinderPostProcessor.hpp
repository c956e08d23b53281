#pragma once

#include "sdk/duplicates/DuplicateFinderResult.hpp"

namespace sweepkit {

// A pass over the groups of a finished search that may add groups or drop covered ones.
class DuplicateFinderPostProcessor {
public:
    virtual ~DuplicateFinderPostProcessor() = default;
    virtual DuplicateFinderResult::GroupsById
    findFolderDuplicates(DuplicateFinderResult::GroupsById groups) = 0;
};

} // namespace sweepkit
