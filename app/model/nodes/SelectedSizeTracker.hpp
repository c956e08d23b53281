#pragma once

#include "app/model/nodes/CleanableNode.hpp"

#include <cstdint>
#include <map>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace marrowdale {

// The size of a selection, kept up to date as ids come and go, so that a change costs what it
// changed rather than a walk of the whole result: the same figure as `selectedSize` over the rows
// `selectedNodes` finds for the ids (each entry counted once, an entry at or below another counted
// entry adding nothing). A row is found through the nearest row above it that was found before, so
// only the folders on its way are opened. On the main thread only, as the rows are.
class SelectedSizeTracker {
public:
    // Starts over with `forest` (the categories' rows, in order) and no id selected.
    void reset(const CleanableNodes& forest);
    // An id selected once more (in one more category): its row counts from the first time.
    void add(const std::string& id);
    // An id selected once less: its row counts no more once no category selects it.
    void remove(const std::string& id);
    std::int64_t total() const;

private:
    struct Path {
        std::int64_t size = 0;
        // How many selected rows stand for this path.
        int uses = 0;
        // No other path of the selection lies above it.
        bool counted = false;
    };

    CleanableNode* find(const std::string& id);
    // Indexes the child rows of `node` (opening it) once.
    void index(CleanableNode& node);
    void addPath(const std::string& path, std::int64_t size);
    void removePath(const std::string& path);
    bool hasSelectedAncestor(const std::string& path) const;
    // The paths of the selection below `path`, in order.
    std::map<std::string, Path>::iterator firstBelow(const std::string& path);
    bool isBelow(const std::string& candidate, const std::string& path) const;

    // Every row found so far by id (the first row of an id wins), and the folders whose children
    // are in it.
    std::unordered_map<std::string, CleanableNode*> rows_;
    std::unordered_set<const CleanableNode*> indexed_;
    // How often each id is selected, and the paths it stands for.
    std::unordered_map<std::string, std::pair<int, std::vector<std::string>>> ids_;
    std::map<std::string, Path> paths_;
    __int128 total_ = 0;
};

} // namespace marrowdale
