#include "platform/diskimage/DiskImageTarget.hpp"

namespace velmor::diskimage {

DiskImageTarget DiskImageTarget::resolve(const std::string& target, const std::vector<MountEntry>& mounts,
                                         const BlockDevices& devices) {
    std::string device;
    if (target.rfind("/dev/", 0) == 0) {
        device = target;
    } else if (!target.empty() && target.find('/') == std::string::npos) {
        device = "/dev/" + target;
    } else {
        std::string mountPoint = target;
        while (mountPoint.size() > 1 && mountPoint.back() == '/') {
            mountPoint.pop_back();
        }
        const MountEntry* mount = mountAt(mounts, mountPoint);
        if (mount == nullptr) {
            throw TargetError(target + ": no such device or mount point");
        }
        device = mount->source;
    }
    const auto name = devices.kernelName(device);
    const auto disk = name ? devices.wholeDiskName(device) : std::nullopt;
    if (!disk) {
        throw TargetError(target + ": no such device or mount point");
    }
    if (!devices.isLoopDevice(*disk)) {
        throw TargetError(target + ": not a disk image (only loop devices are handled)");
    }
    return DiskImageTarget{*disk, "/dev/" + *name};
}

} // namespace velmor::diskimage
