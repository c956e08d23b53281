#pragma once

#include "platform/fs/URL.hpp"

#include <cstdint>
#include <optional>
#include <string>

namespace velmor {

// One partition of an attached disk image, as the disk-image tool reported it. Whether it is still
// mounted or attached is asked of the system at each question.
class DMGPartition {
public:
    // `attachSequence` is the sequence number of the partition's loop device when the record was made
    // (see `BlockDevices::attachSequence`); with one, a device freed and attached to another image
    // since then no longer counts as this partition's.
    DMGPartition(std::optional<URL> mountPoint, std::optional<std::string> devEntry,
                 std::optional<std::string> wholeDiskDevEntry, std::optional<std::uint64_t> attachSequence = {});

    // A partition of a device node the system knows now, with the sequence of its disk as it stands.
    static DMGPartition recordingAttachSequence(std::optional<URL> mountPoint, std::optional<std::string> devEntry,
                                                std::optional<std::string> wholeDiskDevEntry);

    const std::optional<URL>& mountPoint() const { return mountPoint_; }
    const std::optional<std::string>& devEntry() const { return devEntry_; }
    const std::optional<std::string>& wholeDiskDevEntry() const { return wholeDiskDevEntry_; }
    const std::optional<std::uint64_t>& attachSequence() const { return attachSequence_; }

    // The mount point is among the mounted volumes; with a device entry, the file system mounted there
    // also comes from that device and the device is still this partition's (`isAttached`).
    bool isMounted() const;
    // A node exists at `devEntry`; for a loop device it also has a backing file and, when recorded,
    // the same attachment sequence.
    bool isAttached() const;
    // The same test for "/dev/" + `wholeDiskDevEntry`.
    bool isWholeDiskAttached() const;
    // Mounted, else attached, else its whole disk attached.
    bool isPresent() const;

    // "<Partition devEntry:/dev/loop0p1, mounted at: 'file:///media/root/Data/', wholeDiskDevEntry: loop0>"
    std::string description() const;

    // The attachment sequence takes no part.
    friend bool operator==(const DMGPartition& a, const DMGPartition& b) {
        return a.mountPoint_ == b.mountPoint_ && a.devEntry_ == b.devEntry_ &&
               a.wholeDiskDevEntry_ == b.wholeDiskDevEntry_;
    }

private:
    bool isNodeStillOurs(const std::string& node) const;

    std::optional<URL> mountPoint_;
    std::optional<std::string> devEntry_;
    std::optional<std::string> wholeDiskDevEntry_;
    std::optional<std::uint64_t> attachSequence_;
};

} // namespace velmor
