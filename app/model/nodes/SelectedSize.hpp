#pragma once

#include "app/model/nodes/CleanableNode.hpp"

#include <cstdint>
#include <string>
#include <vector>

namespace marrowdale {

// The bytes that cleaning `selected` would free, each entry counted once. Categories overlap (a
// large file in the cache folder is also in the "caches" row, a large old download is in two
// categories), so a row that lies at or below another selected row adds nothing, and a selected
// whole-definition row adds only the files no other selected row holds. The sum saturates.
std::int64_t selectedSize(const CleanableNodes& selected);

// One entry a selected row stands for, by path, with its size.
struct SelectedEntry {
    std::string path;
    std::int64_t size;
};

// Appends the entries `row` stands for: a path row whole, a whole-definition row as its files.
void appendEntriesOf(CleanableNode& row, std::vector<SelectedEntry>& entries);

} // namespace marrowdale
