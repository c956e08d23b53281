#include "app/model/nodes/Selection.hpp"

#include "sdk/finder/records/SaturatingSum.hpp"

#include <algorithm>
#include <unordered_map>

namespace marrowdale {

namespace {

// What the nodes hold in all, as a folder's size after some of its entries went.
std::int64_t sizeOf(const CleanableNodes& nodes) {
    std::int64_t total = 0;
    for (const auto& node : nodes) {
        total = sweepkit::saturatingAdd(total, node->size());
    }
    return total;
}

void collectSelected(const std::unordered_set<std::string>& ids, const CleanableNodes& nodes,
                     CleanableNodes& into) {
    for (const auto& node : nodes) {
        if (ids.contains(node->id())) {
            into.push_back(node);
        } else if (auto& children = node->children()) {
            collectSelected(ids, *children, into);
        }
    }
}

using Replacements = std::unordered_map<const CleanableNode*, const CleanableNodePtr*>;

// Prunes one level in place; tells whether anything in it changed. `left` counts the rows still to
// find, so that the walk stops descending once all are found.
bool pruneLevel(const Replacements& replacements, std::size_t& left, CleanableNodes& nodes) {
    bool changed = false;
    std::size_t kept = 0;
    for (std::size_t i = 0; i < nodes.size(); ++i) {
        CleanableNodePtr node = nodes[i];
        if (left == 0) {
            nodes[kept++] = std::move(node);
            continue;
        }
        if (auto found = replacements.find(node.get()); found != replacements.end()) {
            --left;
            changed = true;
            if (*found->second) {
                nodes[kept++] = *found->second;
            }
            continue;
        }
        auto& children = node->children();
        if (children && pruneLevel(replacements, left, *children)) {
            changed = true;
            node->setSize(sizeOf(*children));
            // A folder goes when nothing is left below it. (A folder that still holds entries of
            // zero bytes stays: those entries were not cleaned.)
            if (children->empty()) {
                continue;
            }
        }
        nodes[kept++] = std::move(node);
    }
    nodes.resize(kept);
    return changed;
}

} // namespace

CleanableNodes selectedNodes(const std::unordered_set<std::string>& ids, const CleanableNodes& nodes) {
    CleanableNodes selected;
    if (!ids.empty()) {
        collectSelected(ids, nodes, selected);
    }
    return selected;
}

bool pruneCleanedNodes(const std::string& id, const CleanableNodePtr& replacement, CleanableNodes& nodes) {
    auto match = std::find_if(nodes.begin(), nodes.end(),
                              [&](const CleanableNodePtr& node) { return node->id() == id; });
    if (match != nodes.end()) {
        if (replacement) {
            *match = replacement;
        } else {
            nodes.erase(match);
        }
        return true;
    }
    for (auto it = nodes.begin(); it != nodes.end(); ++it) {
        CleanableNodePtr node = *it;
        auto& children = node->children();
        if (!children || !pruneCleanedNodes(id, replacement, *children)) {
            continue;
        }
        node->setSize(sizeOf(*children));
        // A folder goes when nothing is left below it. (A folder that still holds entries of zero
        // bytes stays: those entries were not cleaned.)
        if (children->empty()) {
            nodes.erase(it);
        }
        return true;
    }
    return false;
}

void pruneCleanedNodes(const std::vector<CleanedNode>& cleaned, CleanableNodes& nodes) {
    Replacements replacements;
    replacements.reserve(cleaned.size());
    for (const auto& entry : cleaned) {
        replacements.emplace(entry.node.get(), &entry.replacement);
    }
    std::size_t left = replacements.size();
    pruneLevel(replacements, left, nodes);
}

} // namespace marrowdale
