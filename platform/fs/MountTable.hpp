#pragma once

#include "platform/fs/URL.hpp"

#include <string>
#include <vector>

namespace velmor {

// One line of this process's mount table (/proc/self/mountinfo), escapes decoded.
struct MountEntry {
    std::string mountPoint;
    std::string source;
    std::string type;
};

// The mounts in the order the kernel lists them; a later mount over the same point hides the earlier.
// Empty when the table cannot be read.
std::vector<MountEntry> readMountTable();

// The mounted volumes as folder URLs ('file:///media/root/Data/'), one per mount point in effect.
std::vector<URL> mountedVolumeURLs();

// The mount in effect at `path` (a path without a trailing slash), if any.
const MountEntry* mountAt(const std::vector<MountEntry>& table, const std::string& path);
// The answer points into the table, which must outlive it.
const MountEntry* mountAt(std::vector<MountEntry>&& table, const std::string& path) = delete;

} // namespace velmor
