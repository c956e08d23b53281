#include "sdk/duplicates/pipeline/SystemFoldersFilter.hpp"

#include <algorithm>

namespace sweepkit::pipeline {

std::vector<std::string> SystemFoldersFilter::defaultFolders() {
    return {
        "/System/Volumes",
        "/Library/Caches",
        "/Library/Application Support/iLifeMediaBrowser/Plug-Ins",
        "/private/var/db/uuidtext",
        "/Library/Application Support/Apple/Photos/Print Products",
        "/com.apple.trustd/Analytics",
        "/Library/Containers/com.apple.siri.media-indexer",
        "/Library/Application Support/Apple/BezelServices",
        "/Library/User Template",
        "/Library/Modem Scripts",
        "/boot",
        // The Linux system trees. /proc, /sys, /dev and /run are other file systems, which the
        // finder's walk does not enter anyway.
        "/usr",
        "/etc",
        "/var/lib",
        "/var/cache",
        "/var/log",
        "/var/spool",
        "/var/backups",
        "/lost+found",
        "/.cache",
        "/.local/share/flatpak",
    };
}

bool SystemFoldersFilter::isFiltered(const Event& event) const {
    const std::string& path = event.path();
    if (std::ranges::any_of(folderToSkip, [&](const auto& folder) { return path.ends_with(folder); })) {
        return true;
    }
    const auto* stat = event.stat();
    return stat != nullptr && (stat->st_flags & restrictedFlag) != 0;
}

} // namespace sweepkit::pipeline
