#pragma once

#include "platform/diskimage/DiskImageCommand.hpp"
#include "platform/diskimage/DiskImagePlist.hpp"

#include <stdexcept>
#include <string>
#include <vector>

namespace velmor::diskimage {

class UDisksClient;
struct TargetDisk;

// A failure of the tool: the message for standard error and the exit status.
class ToolFailure : public std::runtime_error {
public:
    ToolFailure(const std::string& message, int exitStatus = 1)
        : std::runtime_error(message), exitStatus_(exitStatus) {}
    int exitStatus() const { return exitStatus_; }

private:
    int exitStatus_;
};

// What the tool does, through the disk service. Each throws `ToolFailure`.
class DiskImageActions {
public:
    explicit DiskImageActions(UDisksClient& udisks) : udisks_(udisks) {}

    // Attaches the image read-only and mounts every file system on it, or answers with the
    // attachment the same file already has; attaches of one file run one at a time. Nothing stays
    // attached when it fails.
    std::vector<SystemEntity> attach(const std::string& path);
    // Every loop device with a backing file.
    std::vector<AttachedImage> info();
    // Unmounts the target's file systems (all of its disk's for a whole disk).
    void unmount(const std::string& target, bool force);
    // Unmounts every file system of the target's disk, then frees the loop device. A busy volume
    // fails with exit status 16 and leaves the device attached; so does a device still held open
    // when the wait for its release ends.
    void detach(const std::string& target, bool force);

private:
    TargetDisk attachedDisk(const std::string& target);

    UDisksClient& udisks_;
};

} // namespace velmor::diskimage
