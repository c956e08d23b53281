#pragma once

#include "sdk/duplicates/DuplicateFinderResult.hpp"

#include <functional>
#include <optional>
#include <string>

namespace sweepkit {

// Run on a search's final result before the caller sees it: adds the groups of duplicate folders,
// then takes out every item inside a package, dropping groups left with fewer than two items.
void postProcess(DuplicateFinderResult& result);

// Whether a folder above `path` (up to "/") is a package; the entry at `path` itself is not tested.
bool isInsidePackage(const std::string& path);

// The group without the items that pass `test`: unchanged when none does, nothing when fewer than
// two items would be left.
std::optional<pipeline::DuplicateGroup>
removingItems(const pipeline::DuplicateGroup& group,
              const std::function<bool(const pipeline::FileSystemItem&)>& test);

} // namespace sweepkit
