#pragma once

#include <string>
#include <vector>

namespace marrowdale {

// What one gesture of the user did to a selection: the ids it added and the ids it took away, so
// that passing it on costs what changed rather than the whole selection.
struct SelectionChange {
    std::vector<std::string> added;
    std::vector<std::string> removed;

    bool empty() const { return added.empty() && removed.empty(); }
};

} // namespace marrowdale
