#pragma once

#include "sdk/finder/criteria/FileMatchingCriterion.hpp"
#include "sdk/finder/records/FileSystemNode.hpp"
#include "sdk/finder/records/ProcessingError.hpp"

#include <vector>

namespace sweepkit {

// Arranges the items an index query found under the search roots: a folder node per folder on the
// way, each summing the rounded sizes of the items attached below it.
struct SpotlightResultHierarchy {
    std::vector<FileSystemNode> nodes;
    std::vector<ProcessingError> errors;

    // One node per root in order: an empty folder for a folder, an item for anything else (a file,
    // or a root that cannot be read, with a zeroed status record).
    static std::vector<FileSystemNode> rootNodes(const std::vector<velmor::URL>& roots);

    // The index cannot judge deletability: when the criterion asks for it (or for its negation),
    // the items are filtered here.
    static std::vector<FileSystemItem> filterDeletable(std::vector<FileSystemItem> items,
                                                       const FileMatchingCriterion& criterion);

    // Puts the item into the first root that holds its path in whole components. Throws
    // `failedToAttachToResultHierarchy` when no root holds it or it cannot be placed there; the
    // roots are then unchanged.
    static void attachToRoots(const FileSystemItem& item, std::vector<FileSystemNode>& roots);
    // Puts the item into `node`, making the folders on the way, and adds its rounded size to every
    // folder it passes. Throws `failedToAttachToResultHierarchy` when `node` is an item, does not lie
    // above the item, or an item stands where a folder on the way should be; `node` is then
    // unchanged.
    static void attach(const FileSystemItem& item, FileSystemNode& node);

    // The whole arrangement: roots that received nothing are left out unless they are items; an item
    // that cannot be placed is recorded with its path and the next one follows.
    static SpotlightResultHierarchy build(const std::vector<FileSystemItem>& found,
                                          const FileMatchingCriterion& criterion,
                                          const std::vector<velmor::URL>& roots);
};

} // namespace sweepkit
