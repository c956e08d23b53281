#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace velmor {

// What sysfs tells about block devices: which whole disk holds a device node, and, for loop
// devices, which file backs them and how often they were attached. Read anew at every call.
class BlockDevices {
public:
    // `sysfsBlock` is the folder of block-device entries; tests hand a tree of their own.
    explicit BlockDevices(std::string sysfsBlock = "/sys/class/block") : root_(std::move(sysfsBlock)) {}

    // The kernel name of the node `devEntry` (a /dev path, a link to one, or a bare name) stands
    // for; nothing for a device the kernel does not know.
    std::optional<std::string> kernelName(const std::string& devEntry) const;

    // The kernel name of the whole disk that holds `devEntry` (a /dev path or a bare name):
    // /dev/loop0p1 gives loop0, /dev/loop0 itself; nothing for a device the kernel does not know.
    std::optional<std::string> wholeDiskName(const std::string& devEntry) const;

    bool isLoopDevice(const std::string& diskName) const;

    // The file the kernel reports behind a loop device; nothing when the device is free (or is no
    // loop device).
    std::optional<std::string> backingFile(const std::string& diskName) const;

    // Whether the loop device `devEntry` (a /dev path or a bare name) is marked to be freed at its
    // last close, as a detach leaves one that is still held open.
    bool isFreedAtLastClose(const std::string& devEntry) const;

    // The disk's sequence number, bumped at every attach and detach of a loop device; nothing when
    // the kernel does not report one.
    std::optional<std::uint64_t> attachSequence(const std::string& diskName) const;

private:
    std::string root_;
};

} // namespace velmor
