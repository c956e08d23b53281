#include "app/model/cleaner/ErrorStore.hpp"

namespace marrowdale {

using sweepkit::FileSystemItem;
using sweepkit::FileSystemNode;

void ErrorStore::record(const velmor::Error& error, const FileSystemItem& item, CleanableNode& rootNode) {
    errors_.insert_or_assign(item, error);
    publishChange();
    errorRoots_.insert(rootNode.id());
    publishChange();
}

void ErrorStore::removeAll() {
    errors_.clear();
    publishChange();
    errorRoots_.clear();
    publishChange();
}

std::optional<velmor::Error> ErrorStore::errorOf(const FileSystemItem& item) const {
    auto found = errors_.find(item);
    if (found == errors_.end()) {
        return std::nullopt;
    }
    return found->second;
}

std::optional<velmor::Error> ErrorStore::errorOf(const FileSystemNode& node) const {
    if (auto item = node.asItem()) {
        return errorOf(*item);
    }
    for (const auto& child : node.asFolder()->children) {
        if (auto error = errorOf(child)) {
            return error;
        }
    }
    return std::nullopt;
}

std::optional<velmor::Error> ErrorStore::error(CleanableNode& node) const {
    if (!errorRoots_.contains(node.id())) {
        return std::nullopt;
    }
    const auto& payload = node.payload();
    if (auto item = std::get_if<FileSystemItem>(&payload)) {
        return errorOf(*item);
    }
    if (auto tree = std::get_if<FileSystemNode>(&payload)) {
        return errorOf(*tree);
    }
    for (const auto& item : std::get<CleanableNode::NonBrowsableResult>(payload).result.flattenedItems()) {
        if (auto error = errorOf(item)) {
            return error;
        }
    }
    return std::nullopt;
}

} // namespace marrowdale
