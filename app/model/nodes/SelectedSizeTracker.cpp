#include "app/model/nodes/SelectedSizeTracker.hpp"

#include "app/model/nodes/SelectedSize.hpp"

#include <algorithm>
#include <limits>

namespace marrowdale {

void SelectedSizeTracker::reset(const CleanableNodes& forest) {
    rows_.clear();
    indexed_.clear();
    ids_.clear();
    paths_.clear();
    total_ = 0;
    for (const auto& row : forest) {
        rows_.emplace(row->id(), row.get());
    }
}

void SelectedSizeTracker::index(CleanableNode& node) {
    if (!indexed_.insert(&node).second) {
        return;
    }
    if (const auto& children = node.children()) {
        for (const auto& child : *children) {
            rows_.emplace(child->id(), child.get());
        }
    }
}

CleanableNode* SelectedSizeTracker::find(const std::string& id) {
    // A path's rows lie below the rows of the folders it is in: open the nearest one found, and
    // look again, until the row itself is found or no folder on its way is.
    for (;;) {
        if (const auto found = rows_.find(id); found != rows_.end()) {
            return found->second;
        }
        if (id.empty() || id.front() != '/') {
            return nullptr; // a whole definition's row is found at the top or not at all
        }
        CleanableNode* nearest = nullptr;
        for (std::size_t slash = id.rfind('/'); slash != std::string::npos && slash > 0;
             slash = id.rfind('/', slash - 1)) {
            if (const auto found = rows_.find(id.substr(0, slash)); found != rows_.end()) {
                nearest = found->second;
                break;
            }
        }
        if (!nearest) {
            if (const auto root = rows_.find("/"); root != rows_.end() && id != "/") {
                nearest = root->second;
            }
        }
        if (!nearest || indexed_.contains(nearest)) {
            return nullptr;
        }
        index(*nearest);
    }
}

void SelectedSizeTracker::add(const std::string& id) {
    auto& [uses, paths] = ids_[id];
    if (uses++ > 0) {
        return;
    }
    CleanableNode* row = find(id);
    if (!row) {
        return; // an id of nothing shown counts nothing, until it goes again
    }
    std::vector<SelectedEntry> entries;
    appendEntriesOf(*row, entries);
    for (const auto& [path, size] : entries) {
        paths.push_back(path);
        addPath(path, size);
    }
}

void SelectedSizeTracker::remove(const std::string& id) {
    const auto found = ids_.find(id);
    if (found == ids_.end()) {
        return;
    }
    if (--found->second.first > 0) {
        return;
    }
    for (const auto& path : found->second.second) {
        removePath(path);
    }
    ids_.erase(found);
}

bool SelectedSizeTracker::isBelow(const std::string& candidate, const std::string& path) const {
    if (path == "/") {
        return candidate != "/" && candidate.starts_with('/');
    }
    return candidate.size() > path.size() && candidate.starts_with(path) && candidate[path.size()] == '/';
}

std::map<std::string, SelectedSizeTracker::Path>::iterator SelectedSizeTracker::firstBelow(const std::string& path) {
    // "/a/b" sorts after "/a-b" and "/a.b": what lies below "/a" starts right at "/a/".
    return path == "/" ? paths_.upper_bound(path) : paths_.lower_bound(path + '/');
}

bool SelectedSizeTracker::hasSelectedAncestor(const std::string& path) const {
    if (path != "/" && paths_.contains("/")) {
        return true;
    }
    for (std::size_t slash = path.rfind('/'); slash != std::string::npos && slash > 0;
         slash = path.rfind('/', slash - 1)) {
        if (paths_.contains(path.substr(0, slash))) {
            return true;
        }
    }
    return false;
}

void SelectedSizeTracker::addPath(const std::string& path, std::int64_t size) {
    auto [entry, added] = paths_.try_emplace(path);
    ++entry->second.uses;
    if (!added) {
        return; // counted (or not) already, with the size it came with first
    }
    entry->second.size = size;
    if (hasSelectedAncestor(path)) {
        return;
    }
    entry->second.counted = true;
    total_ += size;
    // What lies below it is in it already.
    for (auto below = firstBelow(path); below != paths_.end() && isBelow(below->first, path); ++below) {
        if (below->second.counted) {
            below->second.counted = false;
            total_ -= below->second.size;
        }
    }
}

void SelectedSizeTracker::removePath(const std::string& path) {
    const auto entry = paths_.find(path);
    if (entry == paths_.end() || --entry->second.uses > 0) {
        return;
    }
    const bool wasCounted = entry->second.counted;
    if (wasCounted) {
        total_ -= entry->second.size;
    }
    paths_.erase(entry);
    if (!wasCounted) {
        return; // what lies below it is below a counted path still
    }
    for (auto below = firstBelow(path); below != paths_.end() && isBelow(below->first, path); ++below) {
        if (!hasSelectedAncestor(below->first)) {
            below->second.counted = true;
            total_ += below->second.size;
        }
    }
}

std::int64_t SelectedSizeTracker::total() const {
    constexpr auto largest = std::numeric_limits<std::int64_t>::max();
    constexpr auto smallest = std::numeric_limits<std::int64_t>::min();
    return static_cast<std::int64_t>(std::clamp<__int128>(total_, smallest, largest));
}

} // namespace marrowdale
