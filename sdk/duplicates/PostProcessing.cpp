#include "sdk/duplicates/PostProcessing.hpp"

#include "platform/fs/Package.hpp"
#include "sdk/duplicates/DuplicateFolderFinder.hpp"

#include <string_view>

namespace sweepkit {

void postProcess(DuplicateFinderResult& result) {
    DuplicateFolderFinder folderFinder(listDirectory);
    DuplicateFinderResult::GroupsById groups =
        folderFinder.findFolderDuplicates(std::move(result.duplicatesByHash));
    for (auto group = groups.begin(); group != groups.end();) {
        if (auto remaining = removingItems(group->second, [](const pipeline::FileSystemItem& item) {
                return isInsidePackage(item.path);
            })) {
            group->second = std::move(*remaining);
            ++group;
        } else {
            group = groups.erase(group);
        }
    }
    result.duplicatesByHash = std::move(groups);
}

bool isInsidePackage(const std::string& path) {
    // Folder names are tested in place, from the deepest up; only a name with a package extension
    // costs a path and a status record.
    std::string_view rest(path);
    while (rest.size() > 1 && rest.back() == '/') {
        rest.remove_suffix(1);
    }
    for (;;) {
        const std::size_t slash = rest.rfind('/');
        if (slash == std::string_view::npos || slash == 0) {
            return false;
        }
        rest = rest.substr(0, slash);
        const std::string_view name = rest.substr(rest.rfind('/') + 1);
        if (velmor::hasPackageExtension(name) && velmor::isPackage(velmor::URL::fileURL(rest))) {
            return true;
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
