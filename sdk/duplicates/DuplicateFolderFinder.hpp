#pragma once

#include "platform/fs/URL.hpp"
#include "sdk/duplicates/DuplicateFinderPostProcessor.hpp"

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace sweepkit {

// Which group an entry of the file system is a member of, by its path. The paths are those of the
// groups' own items, which the map does not hold: the groups must outlive it.
using URLToGroup = std::unordered_map<std::string_view, velmor::UUID>;

// Finds folders whose entries are copies of each other, entry by entry, and makes a group of them.
// Two folders match when they hold the same number of entries and each entry of one has the same
// name in the other, in the same group of equal content; an entry in no such group makes them
// differ. A bundle group says nothing of its bundles' contents, so a bundle never makes folders
// match.
class DuplicateFolderFinder : public DuplicateFinderPostProcessor {
public:
    // The entries of a folder, hidden ones included; throws when the folder cannot be listed.
    using DirectoryListing = std::function<std::vector<velmor::URL>(const velmor::URL&)>;

    explicit DuplicateFolderFinder(DirectoryListing contentsOfDirectory);

    // Adds one group per set of folders that match each other, and drops the file groups those
    // folders cover entirely. A folder that cannot be listed matches nothing.
    DuplicateFinderResult::GroupsById findFolderDuplicates(DuplicateFinderResult::GroupsById groups) override;

    // The group ids of a's entries when the folders match, nothing when they do not; throws when a
    // listing fails.
    std::optional<std::vector<velmor::UUID>>
    foldersHaveSameContent(const velmor::URL& a, const velmor::URL& b, const URLToGroup& map) const;

    const DirectoryListing contentsOfDirectory;

private:
    // A folder's entries by name with their groups, sorted by name: equal keys, matching folders.
    // Nothing when an entry is in no group.
    using ContentKey = std::vector<std::pair<std::string, velmor::UUID>>;

    std::optional<ContentKey> contentKey(const velmor::URL& folder, const URLToGroup& map) const;
};

// Each member of a group of equal content (files, as the search groups them) to its group. Groups of
// folders, which the search makes of bundles by identity alone, are left out. The map refers to the
// paths of `groups`' items.
URLToGroup mapItemsToGroups(const DuplicateFinderResult::GroupsById& groups);

// Stores a group of `folders` in `groups` under a fresh id, drops each group of `ids` whose members
// all lie within the folders, and returns the new group.
pipeline::DuplicateGroup makeFolderGroup(const std::vector<velmor::URL>& folders,
                                         const std::vector<velmor::UUID>& ids,
                                         DuplicateFinderResult::GroupsById& groups);

// The folder's entries, hidden ones included. The folder is opened without following a link, so a
// folder swapped for a link since the walk lists nothing. Throws an error carrying the path.
std::vector<velmor::URL> listDirectory(const velmor::URL& folder);

} // namespace sweepkit
