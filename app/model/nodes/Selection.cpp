#include "app/model/nodes/Selection.hpp"

#include "app/model/nodes/SaturatingSum.hpp"

#include <algorithm>

namespace marrowdale {

namespace {

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
        std::int64_t remaining = 0;
        for (const auto& child : *children) {
            remaining = saturatingAdd(remaining, child->size());
        }
        node->setSize(remaining);
        // A folder goes when nothing is left below it. (A folder that still holds entries of zero
        // bytes stays: those entries were not cleaned.)
        if (children->empty()) {
            nodes.erase(it);
        }
        return true;
    }
    return false;
}

} // namespace marrowdale
