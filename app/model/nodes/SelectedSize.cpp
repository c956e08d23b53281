#include "app/model/nodes/SelectedSize.hpp"

#include "sdk/finder/records/SaturatingSum.hpp"

#include <algorithm>
#include <string_view>
#include <unordered_set>
#include <vector>

namespace marrowdale {

namespace {

void collectItems(const sweepkit::FileSystemNode& node, std::vector<SelectedEntry>& entries) {
    if (auto item = node.asItem()) {
        entries.push_back({item->url.path(), item->metadata.st_size});
        return;
    }
    for (const auto& child : node.asFolder()->children) {
        collectItems(child, entries);
    }
}

// Whether `path` is one of `counted` or lies below one of them, by whole components.
bool isCounted(std::string_view path, const std::unordered_set<std::string_view>& counted) {
    if (counted.contains(path) || counted.contains("/")) {
        return true;
    }
    for (std::size_t slash = path.find('/', 1); slash != std::string_view::npos;
         slash = path.find('/', slash + 1)) {
        if (counted.contains(path.substr(0, slash))) {
            return true;
        }
    }
    return false;
}

} // namespace

void appendEntriesOf(CleanableNode& row, std::vector<SelectedEntry>& entries) {
    if (auto whole = std::get_if<CleanableNode::NonBrowsableResult>(&row.payload())) {
        for (const auto& node : whole->result.nodes) {
            collectItems(node, entries);
        }
    } else {
        entries.push_back({row.id(), row.size()});
    }
}

std::int64_t selectedSize(const CleanableNodes& selected) {
    std::vector<SelectedEntry> entries;
    for (const auto& row : selected) {
        appendEntriesOf(*row, entries);
    }
    // A folder sorts before what lies below it, so it is counted first and its contents skipped.
    std::stable_sort(entries.begin(), entries.end(),
                     [](const SelectedEntry& a, const SelectedEntry& b) { return a.path < b.path; });
    std::unordered_set<std::string_view> counted;
    std::int64_t total = 0;
    for (const auto& entry : entries) {
        if (isCounted(entry.path, counted)) {
            continue;
        }
        counted.insert(entry.path);
        total = sweepkit::saturatingAdd(total, entry.size);
    }
    return total;
}

} // namespace marrowdale
