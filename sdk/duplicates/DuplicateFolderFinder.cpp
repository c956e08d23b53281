#include "sdk/duplicates/DuplicateFolderFinder.hpp"

#include "platform/error/Error.hpp"
#include "sdk/finder/records/URLDeletePermission.hpp"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

namespace sweepkit {

namespace {

velmor::URL folderOf(const velmor::URL& url) {
    return velmor::URL::fileURL(url.deletingLastPathComponent().path());
}

} // namespace

DuplicateFolderFinder::DuplicateFolderFinder(DirectoryListing contentsOfDirectory)
    : contentsOfDirectory(std::move(contentsOfDirectory)) {}

std::optional<DuplicateFolderFinder::ContentKey>
DuplicateFolderFinder::contentKey(const velmor::URL& folder, const URLToGroup& map) const {
    ContentKey key;
    for (const velmor::URL& entry : contentsOfDirectory(folder)) {
        auto found = map.find(entry.path());
        if (found == map.end()) {
            return std::nullopt;
        }
        key.emplace_back(entry.lastPathComponent(), found->second);
    }
    std::sort(key.begin(), key.end());
    return key;
}

std::optional<std::vector<velmor::UUID>>
DuplicateFolderFinder::foldersHaveSameContent(const velmor::URL& a, const velmor::URL& b,
                                              const URLToGroup& map) const {
    if (a == b) {
        return std::nullopt;
    }
    auto keyOfA = contentKey(a, map);
    if (!keyOfA || keyOfA != contentKey(b, map)) {
        return std::nullopt;
    }
    std::vector<velmor::UUID> ids;
    for (const auto& [name, id] : *keyOfA) {
        ids.push_back(id);
    }
    return ids;
}

DuplicateFinderResult::GroupsById
DuplicateFolderFinder::findFolderDuplicates(DuplicateFinderResult::GroupsById groups) {
    URLToGroup map = mapItemsToGroups(groups);

    // Each folder is listed once; a folder's key changes only when a folder in it joins a new group.
    std::unordered_map<std::string, std::optional<ContentKey>> keys;
    auto keyOf = [&](const velmor::URL& folder) -> const std::optional<ContentKey>& {
        auto found = keys.find(folder.path());
        if (found == keys.end()) {
            std::optional<ContentKey> key;
            try {
                key = contentKey(folder, map);
            } catch (...) {
                // A folder that cannot be listed matches nothing.
            }
            found = keys.emplace(folder.path(), std::move(key)).first;
        }
        return found->second;
    };

    std::set<std::vector<std::string>> groupedFolderSets;
    std::vector<velmor::UUID> toVisit;
    for (const auto& [id, group] : groups) {
        toVisit.push_back(id);
    }
    // Groups are added and dropped in place. A dropped group is kept here until the pass ends, as
    // `map` refers to its items' paths.
    DuplicateFinderResult::GroupsById answer = std::move(groups);
    std::vector<pipeline::DuplicateGroup> dropped;
    // Folder groups made on the way are visited too: their parents may match in turn.
    for (std::size_t next = 0; next < toVisit.size(); ++next) {
        auto visited = answer.find(toVisit[next]);
        if (visited == answer.end()) {
            // Dropped as covered: its members' folders all joined one set already.
            continue;
        }
        std::vector<velmor::URL> folders;
        for (const auto& item : visited->second.items) {
            velmor::URL folder = folderOf(velmor::URL::fileURL(item.path));
            if (std::find(folders.begin(), folders.end(), folder) == folders.end()) {
                folders.push_back(std::move(folder));
            }
        }
        if (folders.size() < 2) {
            continue;
        }

        // Folders that match each other share a key; each set of two or more makes one group.
        std::map<ContentKey, std::vector<velmor::URL>> matching;
        for (const velmor::URL& folder : folders) {
            if (const auto& key = keyOf(folder)) {
                matching[*key].push_back(folder);
            }
        }
        for (const auto& [key, set] : matching) {
            if (set.size() < 2) {
                continue;
            }
            std::vector<std::string> paths;
            for (const velmor::URL& folder : set) {
                paths.push_back(folder.path());
            }
            std::sort(paths.begin(), paths.end());
            if (!groupedFolderSets.insert(std::move(paths)).second) {
                continue;
            }
            std::vector<velmor::UUID> ids;
            for (const auto& [name, id] : key) {
                if (std::find(ids.begin(), ids.end(), id) == ids.end()) {
                    ids.push_back(id);
                }
            }
            for (const velmor::UUID& id : ids) {
                if (auto covered = answer.find(id); covered != answer.end()) {
                    dropped.push_back(covered->second);
                }
            }
            const pipeline::DuplicateGroup folderGroup = makeFolderGroup(set, ids, answer);
            dropped.push_back(folderGroup);
            for (const pipeline::FileSystemItem& folder : folderGroup.items) {
                map.insert_or_assign(folder.path, folderGroup.id);
                keys.erase(folderOf(velmor::URL::fileURL(folder.path)).path());
            }
            toVisit.push_back(folderGroup.id);
        }
    }
    return answer;
}

URLToGroup mapItemsToGroups(const DuplicateFinderResult::GroupsById& groups) {
    URLToGroup map;
    for (const auto& [id, group] : groups) {
        // Folders grouped before this pass are bundles, equal by identity only: their contents
        // were never compared, so they make no two entries equal.
        const bool isContentGroup =
            std::none_of(group.items.begin(), group.items.end(),
                         [](const pipeline::FileSystemItem& item) { return S_ISDIR(item.metadata.st_mode); });
        if (!isContentGroup) {
            continue;
        }
        for (const auto& item : group.items) {
            map.insert_or_assign(item.path, id);
        }
    }
    return map;
}

pipeline::DuplicateGroup makeFolderGroup(const std::vector<velmor::URL>& folders,
                                         const std::vector<velmor::UUID>& ids,
                                         DuplicateFinderResult::GroupsById& groups) {
    pipeline::DuplicateGroup folderGroup{velmor::UUID::random(), {}};
    for (const velmor::URL& folder : folders) {
        folderGroup.items.append(pipeline::FileSystemItem(folder, hasDeletePermission(folder)));
    }
    groups.insert_or_assign(folderGroup.id, folderGroup);

    for (const velmor::UUID& id : ids) {
        auto covered = groups.find(id);
        if (covered == groups.end()) {
            continue;
        }
        // Whole path components: /a/b covers /a/b/x, not /a/bc/x.
        const bool anyOutside = std::any_of(
            covered->second.items.begin(), covered->second.items.end(),
            [&](const pipeline::FileSystemItem& item) {
                return std::none_of(folders.begin(), folders.end(), [&](const velmor::URL& folder) {
                    return velmor::isPathWithin(item.path, folder.path());
                });
            });
        if (!anyOutside) {
            groups.erase(covered);
        }
    }
    return folderGroup;
}

std::vector<velmor::URL> listDirectory(const velmor::URL& folder) {
    const std::string path = folder.path();
    const int descriptor = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (descriptor < 0) {
        throw velmor::ErrorException(velmor::Error::posixForPath(errno, path));
    }
    DIR* directory = ::fdopendir(descriptor);
    if (directory == nullptr) {
        const int code = errno;
        ::close(descriptor);
        throw velmor::ErrorException(velmor::Error::posixForPath(code, path));
    }
    std::vector<velmor::URL> entries;
    errno = 0;
    while (const dirent* entry = ::readdir(directory)) {
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0) {
            entries.push_back(folder.appendingPathComponent(entry->d_name));
        }
        errno = 0;
    }
    const int code = errno;
    ::closedir(directory);
    if (code != 0) {
        throw velmor::ErrorException(velmor::Error::posixForPath(code, path));
    }
    return entries;
}

} // namespace sweepkit
