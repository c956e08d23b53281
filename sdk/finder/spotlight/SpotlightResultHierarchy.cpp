#include "sdk/finder/spotlight/SpotlightResultHierarchy.hpp"

#include "platform/fs/Stat.hpp"
#include "sdk/finder/SpotlightFileFinderAnalyzerError.hpp"
#include "sdk/finder/criteria/IsDeletableMatchingCriterion.hpp"
#include "sdk/finder/criteria/NotMatchingCriterion.hpp"
#include "sdk/finder/records/RoundedSize.hpp"
#include "sdk/finder/records/SaturatingSum.hpp"
#include "sdk/finder/records/URLDeletePermission.hpp"

#include <algorithm>
#include <sys/stat.h>

namespace sweepkit {

namespace {

using Error = SpotlightFileFinderAnalyzerError;

[[noreturn]] void failToAttach() {
    throw Error(Error::Case::failedToAttachToResultHierarchy);
}

} // namespace

std::vector<FileSystemNode> SpotlightResultHierarchy::rootNodes(const std::vector<velmor::URL>& roots) {
    std::vector<FileSystemNode> nodes;
    nodes.reserve(roots.size());
    for (const auto& root : roots) {
        const velmor::Stat stat = velmor::Stat::lstatPath(root.path()).value_or(velmor::Stat{});
        if ((stat.st_mode & S_IFMT) == S_IFDIR) {
            nodes.push_back(FileSystemNode::folder(root, 0, {}));
        } else {
            nodes.push_back(FileSystemNode::item(FileSystemItem{root, stat, hasDeletePermission(root)}));
        }
    }
    return nodes;
}

std::vector<FileSystemItem>
SpotlightResultHierarchy::filterDeletable(std::vector<FileSystemItem> items,
                                          const FileMatchingCriterion& criterion) {
    static const auto isDeletable = std::make_shared<const IsDeletableMatchingCriterion>();
    static const NotMatchingCriterion isNotDeletable(isDeletable);
    if (criterion.includes(*isDeletable)) {
        std::erase_if(items, [](const FileSystemItem& item) { return !item.hasDeletePermission; });
    }
    if (criterion.includes(isNotDeletable)) {
        std::erase_if(items, [](const FileSystemItem& item) { return item.hasDeletePermission; });
    }
    return items;
}

void SpotlightResultHierarchy::attachToRoots(const FileSystemItem& item, std::vector<FileSystemNode>& roots) {
    const std::string path = item.url.path();
    auto root = std::find_if(roots.begin(), roots.end(), [&path](const FileSystemNode& node) {
        return velmor::isPathWithin(path, node.url().path());
    });
    if (root == roots.end()) {
        failToAttach();
    }
    attach(item, *root);
}

void SpotlightResultHierarchy::attach(const FileSystemItem& item, FileSystemNode& node) {
    FileSystemNode::Folder* folder = node.asFolder();
    if (folder == nullptr) {
        failToAttach();
    }
    // Paths, not URLs, are compared: a folder named with a trailing slash is the same folder.
    const std::string folderPath = folder->url.path();
    const std::string itemPath = item.url.path();
    if (item.url.deletingLastPathComponent().path() == folderPath) {
        folder->children.push_back(FileSystemNode::item(item));
    } else {
        if (!velmor::isPathWithin(itemPath, folderPath) || itemPath.size() == folderPath.size()) {
            failToAttach();
        }
        const std::size_t start = itemPath.find_first_not_of('/', folderPath.size());
        const std::string component = itemPath.substr(start, itemPath.find('/', start) - start);
        auto child = std::find_if(folder->children.begin(), folder->children.end(),
                                  [&component](const FileSystemNode& child) {
                                      return child.url().lastPathComponent() == component;
                                  });
        if (child != folder->children.end()) {
            attach(item, *child);
        } else {
            // Built aside and appended only once the item is in it, so a failure leaves no trace.
            auto created = FileSystemNode::folder(folder->url.appendingPathComponent(component), 0, {});
            attach(item, created);
            folder->children.push_back(std::move(created));
        }
    }
    // Sizes are added on the way back up, after the item has found its place.
    folder->contentSize = saturatingAdd(folder->contentSize, roundedSize(item.metadata));
}

SpotlightResultHierarchy SpotlightResultHierarchy::build(const std::vector<FileSystemItem>& found,
                                                         const FileMatchingCriterion& criterion,
                                                         const std::vector<velmor::URL>& roots) {
    SpotlightResultHierarchy hierarchy;
    std::vector<FileSystemNode> nodes = rootNodes(roots);
    for (const auto& item : filterDeletable(found, criterion)) {
        try {
            attachToRoots(item, nodes);
        } catch (const velmor::ComponentError& error) {
            hierarchy.errors.push_back(ProcessingError{error.toError(), item.url.path()});
        }
    }
    for (auto& node : nodes) {
        if (!node.isEmptyFolder()) {
            hierarchy.nodes.push_back(std::move(node));
        }
    }
    return hierarchy;
}

} // namespace sweepkit
