#pragma once

#include "app/ui/table/KeyPathComparator.hpp"

#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace marrowdale {

// A row of a sorted view of a result tree: one node with the sort order and the way to its
// children, so each level is sorted when it is opened and the model's nodes are never reordered.
// Every row of one tree shares the same order and children accessor.
template <typename Node> class SortedNode {
public:
    using NodePtr = std::shared_ptr<Node>;
    using Nodes = std::vector<NodePtr>;
    using Comparator = KeyPathComparator<Node>;
    using Comparators = std::vector<Comparator>;
    using ChildrenKeyPath = std::function<const std::optional<Nodes>&(Node&)>;

    SortedNode(NodePtr node, Comparators sortOrder, ChildrenKeyPath childrenKeyPath)
        : SortedNode(std::move(node), std::make_shared<const Comparators>(std::move(sortOrder)),
                     std::make_shared<const ChildrenKeyPath>(std::move(childrenKeyPath))) {}

    // Every node wrapped, in the order the comparators give (ties keep the given order).
    static std::vector<SortedNode> sortedNodes(const Nodes& nodes, Comparators sortOrder,
                                               ChildrenKeyPath childrenKeyPath) {
        return sortedNodes(nodes, std::make_shared<const Comparators>(std::move(sortOrder)),
                           std::make_shared<const ChildrenKeyPath>(std::move(childrenKeyPath)));
    }

    const NodePtr& node() const { return node_; }
    const Comparators& sortOrder() const { return *sortOrder_; }
    auto id() const { return node_->id(); }

    // The sorted children, with this row's order; nothing for a leaf and for an empty folder alike,
    // so an empty folder shows no disclosure control.
    std::optional<std::vector<SortedNode>> children() const {
        const auto& nodes = (*childrenKeyPath_)(*node_);
        if (!nodes || nodes->empty()) {
            return std::nullopt;
        }
        return sortedNodes(*nodes, sortOrder_, childrenKeyPath_);
    }

private:
    SortedNode(NodePtr node, std::shared_ptr<const Comparators> sortOrder,
               std::shared_ptr<const ChildrenKeyPath> childrenKeyPath)
        : node_(std::move(node)), sortOrder_(std::move(sortOrder)),
          childrenKeyPath_(std::move(childrenKeyPath)) {}

    static std::vector<SortedNode>
    sortedNodes(const Nodes& nodes, const std::shared_ptr<const Comparators>& sortOrder,
                const std::shared_ptr<const ChildrenKeyPath>& childrenKeyPath) {
        std::vector<SortedNode> rows;
        rows.reserve(nodes.size());
        for (auto position : sortedPositions<Node>(
                 nodes.size(), [&](std::size_t at) -> Node& { return *nodes[at]; }, *sortOrder)) {
            rows.push_back(SortedNode(nodes[position], sortOrder, childrenKeyPath));
        }
        return rows;
    }

    NodePtr node_;
    std::shared_ptr<const Comparators> sortOrder_;
    std::shared_ptr<const ChildrenKeyPath> childrenKeyPath_;
};

} // namespace marrowdale
