#pragma once

#include "platform/fs/URL.hpp"

#include <cstdint>
#include <optional>
#include <string>

namespace velmor {

// What the file system says about the volume an entry lives on, and whether the entry is a volume's
// root (a mount point of this process's mount table, /proc/self/mountinfo).
struct Volume {
    static bool isVolume(const URL& url);
    // Whether the entry itself (not what a link points to) is a folder.
    static bool isDirectory(const URL& url);

    // The file-system label of the volume mounted at `mountPoint`, else its device name ("sda2"),
    // else the mount point's last component. Nothing when nothing is mounted there.
    static std::optional<std::string> name(const URL& mountPoint);

    struct Capacity {
        std::uint64_t total = 0;
        // What an ordinary user may still write.
        std::uint64_t available = 0;
    };
    // From statvfs of any entry on the volume; nothing when it cannot be read.
    static std::optional<Capacity> capacity(const URL& url);
};

// How an entry is named for people: the volume name for a mount point, else the last path component.
std::string localizedName(const URL& url);

} // namespace velmor
