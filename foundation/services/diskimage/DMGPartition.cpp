#include "foundation/services/diskimage/DMGPartition.hpp"

#include "platform/diskimage/BlockDevices.hpp"
#include "platform/fs/MountTable.hpp"
#include "platform/fs/ResolvedPath.hpp"

#include <sys/stat.h>

namespace velmor {

namespace {

bool nodeExists(const std::string& path) {
    struct ::stat record {};
    return ::stat(path.c_str(), &record) == 0;
}

} // namespace

DMGPartition::DMGPartition(std::optional<URL> mountPoint, std::optional<std::string> devEntry,
                           std::optional<std::string> wholeDiskDevEntry, std::optional<std::uint64_t> attachSequence)
    : mountPoint_(std::move(mountPoint)), devEntry_(std::move(devEntry)),
      wholeDiskDevEntry_(std::move(wholeDiskDevEntry)), attachSequence_(attachSequence) {}

DMGPartition DMGPartition::recordingAttachSequence(std::optional<URL> mountPoint, std::optional<std::string> devEntry,
                                                   std::optional<std::string> wholeDiskDevEntry) {
    const BlockDevices devices;
    std::optional<std::string> disk = wholeDiskDevEntry;
    if (!disk && devEntry) {
        disk = devices.wholeDiskName(*devEntry);
    }
    std::optional<std::uint64_t> sequence = disk ? devices.attachSequence(*disk) : std::nullopt;
    return DMGPartition(std::move(mountPoint), std::move(devEntry), std::move(wholeDiskDevEntry), sequence);
}

bool DMGPartition::isNodeStillOurs(const std::string& node) const {
    if (!nodeExists(node)) {
        return false;
    }
    // A loop node exists whether or not an image is attached, and a freed device serves the next
    // image at once: only a bound device with the recorded sequence is still this image's.
    const BlockDevices devices;
    const auto disk = devices.wholeDiskName(node);
    if (!disk || !devices.isLoopDevice(*disk)) {
        return true;
    }
    if (!devices.backingFile(*disk)) {
        return false;
    }
    return !attachSequence_ || devices.attachSequence(*disk) == attachSequence_;
}

bool DMGPartition::isMounted() const {
    if (!mountPoint_) {
        return false;
    }
    const auto table = readMountTable();
    const MountEntry* mount = mountAt(table, mountPoint_->path());
    if (mount == nullptr) {
        return false;
    }
    if (!devEntry_) {
        return true;
    }
    return resolvingSymlinksOr(mount->source) == resolvingSymlinksOr(*devEntry_) && isAttached();
}

bool DMGPartition::isAttached() const {
    return devEntry_ && isNodeStillOurs(*devEntry_);
}

bool DMGPartition::isWholeDiskAttached() const {
    return wholeDiskDevEntry_ && isNodeStillOurs("/dev/" + *wholeDiskDevEntry_);
}

bool DMGPartition::isPresent() const {
    return isMounted() || isAttached() || isWholeDiskAttached();
}

std::string DMGPartition::description() const {
    std::string text = "<Partition devEntry:" + devEntry_.value_or("nil");
    if (mountPoint_) {
        text += ", mounted at: '" + mountPoint_->absoluteString() + "'";
    } else {
        text += ", nil mountpoint (unmountable)";
    }
    if (wholeDiskDevEntry_) {
        text += ", wholeDiskDevEntry: " + *wholeDiskDevEntry_;
    }
    return text + ">";
}

} // namespace velmor
