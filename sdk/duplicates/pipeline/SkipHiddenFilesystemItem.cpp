#include "sdk/duplicates/pipeline/SkipHiddenFilesystemItem.hpp"

#include <algorithm>
#include <string_view>

namespace sweepkit::pipeline {

bool SkipHiddenFilesystemItem::isFiltered(const Event& event) const {
    if (const auto* stat = event.stat(); stat != nullptr && (stat->st_flags & hiddenFlag) != 0) {
        return true;
    }
    const std::string& path = event.path();
    // A path with no "/", or ending in one, has no name to look at; "." and ".." are no names but
    // steps of a path, which a root may still hold.
    auto slash = path.rfind('/');
    if (slash != std::string::npos && slash + 1 < path.size() && path[slash + 1] == hiddenFilePrefix) {
        const std::string_view name = std::string_view(path).substr(slash + 1);
        if (name != "." && name != "..") {
            return true;
        }
    }
    if (std::ranges::any_of(folderToSkip, [&](const auto& folder) { return path.ends_with(folder); })) {
        return true;
    }
    return false;
}

} // namespace sweepkit::pipeline
