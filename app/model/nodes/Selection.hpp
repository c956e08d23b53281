#pragma once

#include "app/model/nodes/CleanableNode.hpp"

#include <string>
#include <unordered_set>
#include <vector>

namespace marrowdale {

// The rows the selection stands for, in depth-first pre-order: a selected row is taken whole, and
// nothing below it is looked at.
CleanableNodes selectedNodes(const std::unordered_set<std::string>& ids, const CleanableNodes& nodes);

// Takes the first row with `id` out of the forest, or puts `replacement` in its place. Every
// ancestor then holds the sum of its remaining children as its size, and an ancestor left without
// children goes too. Tells whether a row was found.
bool pruneCleanedNodes(const std::string& id, const CleanableNodePtr& replacement, CleanableNodes& nodes);

// A cleaned row (one of the forest's own rows) and its uncleaned remainder, none when all went.
struct CleanedNode {
    CleanableNodePtr node;
    CleanableNodePtr replacement;
};

// Prunes many cleaned rows in one walk of the forest, with the outcome of pruning them one after
// another: each row is removed or replaced in place, every ancestor that changed below holds the
// sum of its remaining children, and an ancestor left without children goes. Rows are found by
// identity, so two rows with the same identifier are each pruned where they stand. Costs one walk
// of the forest, however many rows there are.
void pruneCleanedNodes(const std::vector<CleanedNode>& cleaned, CleanableNodes& nodes);

} // namespace marrowdale
