#include "sdk/duplicates/pipeline/SkipHiddenFilesystemItem.hpp"

#include <algorithm>

namespace sweepkit::pipeline {

bool SkipHiddenFilesystemItem::isFiltered(const Event& event) const {
    if (const auto* stat = event.stat(); stat != nullptr && (stat->st_flags & hiddenFlag) != 0) {
        return true;
    }
    const std::string& path = event.path();
    // A path with no "/", or ending in one, has no name to look at.
    auto slash = path.rfind('/');
    if (slash != std::string::npos && slash + 1 < path.size() && path[slash + 1] == hiddenFilePrefix) {
        return true;
    }
    if (std::ranges::any_of(folderToSkip, [&](const auto& folder) { return path.ends_with(folder); })) {
        return true;
    }
    return false;
}

} // namespace sweepkit::pipeline
