#pragma once

#include "app/model/nodes/CleanableNode.hpp"

#include <string>
#include <unordered_set>

namespace marrowdale {

// The rows the selection stands for, in depth-first pre-order: a selected row is taken whole, and
// nothing below it is looked at.
CleanableNodes selectedNodes(const std::unordered_set<std::string>& ids, const CleanableNodes& nodes);

// Takes the first row with `id` out of the forest, or puts `replacement` in its place. Every
// ancestor then holds the sum of its remaining children as its size, and an ancestor left without
// children goes too. Tells whether a row was found.
bool pruneCleanedNodes(const std::string& id, const CleanableNodePtr& replacement, CleanableNodes& nodes);

} // namespace marrowdale
