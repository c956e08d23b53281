#include "sdk/duplicates/PostProcessing.hpp"

#include "platform/fs/Package.hpp"
#include "sdk/duplicates/DuplicateFolderFinder.hpp"

namespace sweepkit {

void postProcess(DuplicateFinderResult& result) {
    DuplicateFolderFinder folderFinder(listDirectory);
    DuplicateFinderResult::GroupsById groups = folderFinder.findFolderDuplicates(result.duplicatesByHash);
    DuplicateFinderResult::GroupsById kept;
    for (const auto& [id, group] : groups) {
        if (auto remaining = removingItems(
                group, [](const pipeline::FileSystemItem& item) { return isInsidePackage(item.path); })) {
            kept.emplace(id, std::move(*remaining));
        }
    }
    result.duplicatesByHash = std::move(kept);
}

bool isInsidePackage(const std::string& path) {
    velmor::URL url = velmor::URL::fileURL(path);
    if (url.path() == "/") {
        return false;
    }
    for (;;) {
        url = velmor::URL::fileURL(url.deletingLastPathComponent().path());
        if (velmor::isPackage(url)) {
            return true;
        }
        if (url.path() == "/") {
            return false;
        }
    }
}

std::optional<pipeline::DuplicateGroup>
removingItems(const pipeline::DuplicateGroup& group,
              const std::function<bool(const pipeline::FileSystemItem&)>& test) {
    std::vector<bool> removed;
    std::size_t removedCount = 0;
    for (const auto& item : group.items) {
        removed.push_back(test(item));
        removedCount += removed.back() ? 1 : 0;
    }
    if (removedCount == 0) {
        return group;
    }
    if (removedCount + 1 >= group.items.size()) {
        return std::nullopt;
    }
    pipeline::DuplicateGroup remaining{group.id, {}};
    std::size_t index = 0;
    for (const auto& item : group.items) {
        if (!removed[index++]) {
            remaining.items.append(item);
        }
    }
    return remaining;
}

} // namespace sweepkit
