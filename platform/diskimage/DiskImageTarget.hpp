#pragma once

#include "platform/diskimage/BlockDevices.hpp"
#include "platform/fs/MountTable.hpp"

#include <stdexcept>
#include <string>
#include <vector>

namespace velmor::diskimage {

// What a detach, unmount or eject target names: a loop device, and the node the target pointed at
// (the device itself or one of its partitions).
struct DiskImageTarget {
    std::string disk;   // "loop0"
    std::string device; // "/dev/loop0" or "/dev/loop0p1"

    // A target is a device path (/dev/loop0p1), a whole-disk name (loop0) or a mount point. Throws
    // `TargetError` when it names nothing the system has, or something other than a loop device.
    static DiskImageTarget resolve(const std::string& target, const std::vector<MountEntry>& mounts,
                                   const BlockDevices& devices);
};

class TargetError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

} // namespace velmor::diskimage
