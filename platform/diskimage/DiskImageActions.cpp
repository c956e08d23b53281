#include "platform/diskimage/DiskImageActions.hpp"

#include "platform/diskimage/BlockDevices.hpp"
#include "platform/diskimage/DeviceManager.hpp"
#include "platform/diskimage/DiskImageTarget.hpp"
#include "platform/diskimage/ImageProbe.hpp"
#include "platform/diskimage/KernelDeviceEvents.hpp"
#include "platform/diskimage/UDisksClient.hpp"
#include "platform/fs/Descriptor.hpp"
#include "platform/fs/MountTable.hpp"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <linux/loop.h>
#include <optional>
#include <set>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace velmor::diskimage {

namespace {

// How long the disk service may take to see what a new loop device holds.
constexpr auto probeDeadline = std::chrono::seconds(20);
// How long an attach waits for another attach of the same image to finish.
constexpr auto lockDeadline = std::chrono::seconds(45);
// The disk service may pick a free loop device, or a free mount point name, that another set-up or
// mount takes first; it then fails, and a new call picks another. Pauses before each retry, doubling.
constexpr int takenAttempts = 5;
constexpr auto firstTakenPause = std::chrono::milliseconds(50);
// How long a freed loop device may stay held open by others before detach gives up waiting.
constexpr auto releaseDeadline = std::chrono::milliseconds(10000);

const UDisksBlock* findBlock(const std::vector<UDisksBlock>& blocks, const std::string& objectPath) {
    auto found = std::find_if(blocks.begin(), blocks.end(),
                              [&](const UDisksBlock& block) { return block.objectPath == objectPath; });
    return found == blocks.end() ? nullptr : &*found;
}

const UDisksBlock* findDevice(const std::vector<UDisksBlock>& blocks, const std::string& device) {
    auto found = std::find_if(blocks.begin(), blocks.end(),
                              [&](const UDisksBlock& block) { return block.device == device; });
    return found == blocks.end() ? nullptr : &*found;
}

// The disk itself, then its partitions by number.
std::vector<const UDisksBlock*> volumesOf(const std::vector<UDisksBlock>& blocks, const UDisksBlock& disk) {
    std::vector<const UDisksBlock*> partitions;
    for (const auto& block : blocks) {
        if (!disk.objectPath.empty() && block.partitionTable == disk.objectPath) {
            partitions.push_back(&block);
        }
    }
    std::sort(partitions.begin(), partitions.end(),
              [](const UDisksBlock* a, const UDisksBlock* b) { return a->partitionNumber < b->partitionNumber; });
    partitions.insert(partitions.begin(), &disk);
    return partitions;
}

std::vector<SystemEntity> entitiesOf(const std::vector<UDisksBlock>& blocks, const UDisksBlock& disk) {
    std::vector<SystemEntity> entities;
    for (const UDisksBlock* volume : volumesOf(blocks, disk)) {
        SystemEntity entity{volume->device, volume->hasFilesystem, std::nullopt};
        if (!volume->mountPoints.empty()) {
            entity.mountPoint = volume->mountPoints.front();
        }
        entities.push_back(std::move(entity));
    }
    return entities;
}

// Whether `file` names the file `image` (same device and inode).
bool isImageFile(const std::string& file, const struct ::stat& image) {
    struct ::stat backing {};
    return ::stat(file.c_str(), &backing) == 0 && backing.st_dev == image.st_dev &&
           backing.st_ino == image.st_ino;
}

// The read-only loop device already attached to the file `image`, if any. One a detach has marked
// to be freed at its last close goes away under whoever is handed it, so it is none.
const UDisksBlock* attachmentOf(const std::vector<UDisksBlock>& blocks, const struct ::stat& image) {
    const BlockDevices devices;
    for (const auto& block : blocks) {
        if (block.isLoop && block.readOnly && !block.backingFile.empty() &&
            isImageFile(block.backingFile, image) && !devices.isFreedAtLastClose(block.device)) {
            return &block;
        }
    }
    return nullptr;
}

// Whether the service has seen everything the probe found on the image.
bool isSettled(const std::vector<UDisksBlock>& blocks, const UDisksBlock& disk, const ImageProbe& probe) {
    if (probe.hasFilesystem) {
        return disk.hasFilesystem;
    }
    const auto volumes = volumesOf(blocks, disk);
    for (std::uint32_t number : probe.partitions) {
        auto found = std::find_if(volumes.begin() + 1, volumes.end(),
                                  [&](const UDisksBlock* volume) { return volume->partitionNumber == number; });
        if (found == volumes.end()) {
            return false;
        }
        const bool wantsFilesystem = std::find(probe.partitionsWithFilesystem.begin(),
                                               probe.partitionsWithFilesystem.end(),
                                               number) != probe.partitionsWithFilesystem.end();
        if (wantsFilesystem && !(*found)->hasFilesystem) {
            return false;
        }
    }
    return true;
}

// `call()`, called again while it fails with what `wasTaken` says another caller took first.
template <typename Call, typename Taken>
auto retryingWhileTaken(const Call& call, const Taken& wasTaken) {
    auto pause = firstTakenPause;
    for (int attempt = 1;; ++attempt) {
        try {
            return call();
        } catch (const UDisksError& error) {
            if (attempt == takenAttempts || !wasTaken(error)) {
                throw;
            }
        }
        std::this_thread::sleep_for(pause);
        pause *= 2;
    }
}

// Mounts what is not mounted yet on `disk`; the object paths it mounted are added to `mounted`.
void mountAll(UDisksClient& udisks, const std::vector<UDisksBlock>& blocks, const UDisksBlock& disk,
              std::vector<std::string>& mounted) {
    for (const UDisksBlock* volume : volumesOf(blocks, disk)) {
        if (volume->hasFilesystem && volume->mountPoints.empty()) {
            retryingWhileTaken([&] { return udisks.mount(volume->objectPath); },
                               [](const UDisksError& error) { return error.isMountPointTaken(); });
            mounted.push_back(volume->objectPath);
        }
    }
}

// Whether the kernel made partition devices for the loop device `device`. It reads the table while
// it sets the device up, so the answer stands once the set-up call has returned.
bool kernelHasPartitions(const std::string& device) {
    const std::string disk = std::filesystem::path(device).filename().string();
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/sys/class/block/" + disk, error)) {
        if (entry.path().filename().string().rfind(disk + "p", 0) == 0) {
            return true;
        }
    }
    return false;
}

// The kernel names of the loop devices that the file `image` backs now.
std::set<std::string> loopDevicesBacking(const struct ::stat& image) {
    std::set<std::string> names;
    const BlockDevices devices;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/sys/class/block", error)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind("loop", 0) != 0) {
            continue;
        }
        if (const auto file = devices.backingFile(name); file && isImageFile(*file, image)) {
            names.insert(name);
        }
    }
    return names;
}

// Frees the loop device `name`: through the disk service when it knows it, else directly.
void freeLoopDevice(UDisksClient& udisks, const std::string& name) {
    try {
        udisks.loopDelete("/org/freedesktop/UDisks2/block_devices/" + name);
        return;
    } catch (const UDisksError&) {
    }
    const Descriptor device(::open(("/dev/" + name).c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (device) {
        ::ioctl(device.get(), LOOP_CLR_FD, 0);
    }
}

// Holds an exclusive lock on the image, on a descriptor of its own: a lock on the one handed to
// the disk service would live as long as the loop device that keeps it.
Descriptor lockImage(int image, const std::string& path) {
    Descriptor lock(::open(("/proc/self/fd/" + std::to_string(image)).c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!lock) {
        throw ToolFailure(path + ": cannot lock the image: " + std::strerror(errno));
    }
    const auto deadline = std::chrono::steady_clock::now() + lockDeadline;
    while (::flock(lock.get(), LOCK_EX | LOCK_NB) != 0) {
        if (errno != EWOULDBLOCK && errno != EINTR) {
            throw ToolFailure(path + ": cannot lock the image: " + std::strerror(errno));
        }
        if (std::chrono::steady_clock::now() > deadline) {
            throw ToolFailure(path + ": another attach of this image did not finish in time");
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return lock;
}

// A loop device over `image`, retrying the one transient failure of the set-up.
std::string setUpLoopDevice(UDisksClient& udisks, int image) {
    return retryingWhileTaken([&] { return udisks.loopSetup(image); },
                              [](const UDisksError& error) { return error.isLoopDeviceTaken(); });
}

ToolFailure failureOf(const UDisksError& error, const std::string& subject) {
    return ToolFailure(subject + ": " + error.what(), error.isBusy() ? 16 : 1);
}

DiskImageTarget resolveTarget(const std::string& target) {
    try {
        return DiskImageTarget::resolve(target, readMountTable(), BlockDevices());
    } catch (const TargetError& error) {
        throw ToolFailure(error.what());
    }
}

// Unmounts every mounted volume among `volumes`.
void unmountVolumes(UDisksClient& udisks, const std::vector<const UDisksBlock*>& volumes, bool force) {
    for (const UDisksBlock* volume : volumes) {
        if (volume->hasFilesystem && !volume->mountPoints.empty()) {
            try {
                udisks.unmount(volume->objectPath, force);
            } catch (const UDisksError& error) {
                throw failureOf(error, volume->device);
            }
        }
    }
}

} // namespace

std::vector<SystemEntity> DiskImageActions::attach(const std::string& path) {
    // Without waiting: a FIFO named like an image would block the open until a writer came.
    Descriptor image(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!image) {
        throw ToolFailure(path + ": " + std::strerror(errno));
    }
    struct ::stat status {};
    if (::fstat(image.get(), &status) != 0) {
        throw ToolFailure(path + ": " + std::strerror(errno));
    }
    if (!S_ISREG(status.st_mode)) {
        throw ToolFailure(path + ": not a disk image file");
    }
    // Held across the look for an attachment and the set-up, so that a second attach at once finds
    // the first one's device instead of making another.
    const Descriptor lock = lockImage(image.get(), path);
    try {
        auto blocks = udisks_.blocks();
        if (const UDisksBlock* existing = attachmentOf(blocks, status)) {
            std::vector<std::string> mounted;
            mountAll(udisks_, blocks, *existing, mounted);
            const std::string objectPath = existing->objectPath;
            blocks = udisks_.blocks();
            if (const UDisksBlock* disk = findBlock(blocks, objectPath)) {
                return entitiesOf(blocks, *disk);
            }
            throw ToolFailure(path + ": the attachment went away");
        }
    } catch (const UDisksError& error) {
        throw failureOf(error, path);
    }

    const ImageProbe probe = ImageProbe::probe(image.get(), path);
    if (!probe.isAttachable()) {
        throw ToolFailure(path + ": no file system or partition table recognised "
                                 "(compressed, sparse and encrypted images are not supported)");
    }
    // Without the device manager a set-up only times out, so it is refused before it starts.
    if (const auto absence = deviceManagerAbsence()) {
        throw ToolFailure(path + ": no device manager runs (" + *absence +
                          "), so the disk service cannot see new loop devices");
    }
    const std::set<std::string> backingBefore = loopDevicesBacking(status);
    std::string objectPath;
    std::vector<std::string> mounted;
    try {
        objectPath = setUpLoopDevice(udisks_, image.get());
        const auto deadline = std::chrono::steady_clock::now() + probeDeadline;
        for (;;) {
            const auto blocks = udisks_.blocks();
            const UDisksBlock* disk = findBlock(blocks, objectPath);
            if (disk != nullptr && !probe.hasFilesystem && !probe.partitions.empty() &&
                !kernelHasPartitions(disk->device)) {
                throw ToolFailure(path + ": the kernel reads no partitions from its partition table here");
            }
            if (disk != nullptr && isSettled(blocks, *disk, probe)) {
                mountAll(udisks_, blocks, *disk, mounted);
                break;
            }
            if (std::chrono::steady_clock::now() > deadline) {
                throw ToolFailure(path + ": the disk service did not recognise the image's volumes in time");
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        const auto blocks = udisks_.blocks();
        const UDisksBlock* disk = findBlock(blocks, objectPath);
        if (disk == nullptr) {
            throw ToolFailure(path + ": the attachment went away");
        }
        return entitiesOf(blocks, *disk);
    } catch (...) {
        // Leave nothing behind: what was mounted, then the loop device.
        for (auto it = mounted.rbegin(); it != mounted.rend(); ++it) {
            try {
                udisks_.unmount(*it, true);
            } catch (const UDisksError&) {
            }
        }
        if (!objectPath.empty()) {
            try {
                udisks_.loopDelete(objectPath);
            } catch (const UDisksError&) {
            }
        }
        // A set-up that failed half-way (the service made the device but never saw it) leaves a
        // device the service never named: free whatever this set-up added.
        for (const std::string& name : loopDevicesBacking(status)) {
            if (!backingBefore.contains(name)) {
                freeLoopDevice(udisks_, name);
            }
        }
        try {
            throw;
        } catch (const UDisksError& error) {
            throw failureOf(error, path);
        }
    }
}

std::vector<AttachedImage> DiskImageActions::info() {
    try {
        const auto blocks = udisks_.blocks();
        std::vector<const UDisksBlock*> loops;
        for (const auto& block : blocks) {
            if (block.isLoop && !block.backingFile.empty()) {
                loops.push_back(&block);
            }
        }
        std::sort(loops.begin(), loops.end(),
                  [](const UDisksBlock* a, const UDisksBlock* b) { return a->device < b->device; });
        std::vector<AttachedImage> images;
        for (const UDisksBlock* loop : loops) {
            images.push_back(AttachedImage{loop->backingFile, entitiesOf(blocks, *loop)});
        }
        return images;
    } catch (const UDisksError& error) {
        throw ToolFailure(std::string("info: ") + error.what());
    }
}

// The loop device a target names, among the service's blocks; fails when no image backs it.
struct TargetDisk {
    DiskImageTarget resolved;
    std::vector<UDisksBlock> blocks;
    std::size_t diskIndex = 0;
    const UDisksBlock* disk() const { return &blocks[diskIndex]; }
};

TargetDisk DiskImageActions::attachedDisk(const std::string& target) {
    TargetDisk found{resolveTarget(target), {}, 0};
    try {
        found.blocks = udisks_.blocks();
    } catch (const UDisksError& error) {
        throw failureOf(error, target);
    }
    const UDisksBlock* disk = findDevice(found.blocks, "/dev/" + found.resolved.disk);
    if (disk == nullptr || !disk->isLoop || disk->backingFile.empty()) {
        throw ToolFailure(target + ": no disk image is attached there");
    }
    found.diskIndex = static_cast<std::size_t>(disk - found.blocks.data());
    return found;
}

void DiskImageActions::unmount(const std::string& target, bool force) {
    const TargetDisk found = attachedDisk(target);
    const DiskImageTarget& resolved = found.resolved;
    const auto& blocks = found.blocks;
    const UDisksBlock* disk = found.disk();
    auto volumes = volumesOf(blocks, *disk);
    if (resolved.device != "/dev/" + resolved.disk) {
        std::erase_if(volumes, [&](const UDisksBlock* volume) { return volume->device != resolved.device; });
    }
    const bool anyMounted = std::any_of(volumes.begin(), volumes.end(), [](const UDisksBlock* volume) {
        return volume->hasFilesystem && !volume->mountPoints.empty();
    });
    if (!anyMounted) {
        throw ToolFailure(target + ": not mounted");
    }
    unmountVolumes(udisks_, volumes, force);
}

void DiskImageActions::detach(const std::string& target, bool force) {
    const TargetDisk found = attachedDisk(target);
    const auto& blocks = found.blocks;
    const UDisksBlock* disk = found.disk();
    // Freeing a loop device whose file system is still mounted only defers the detach: unmount
    // first, and stop while a volume is busy.
    unmountVolumes(udisks_, volumesOf(blocks, *disk), force);
    // The kernel frees a loop device that is still open somewhere (a prober woken by the unmount,
    // say) only at its last close: the image is detached once that is done, so wait for it.
    const KernelDeviceEvents events;
    const BlockDevices devices;
    const auto name = devices.kernelName(disk->device);
    const auto sequence = name ? devices.attachSequence(*name) : std::nullopt;
    try {
        udisks_.loopDelete(disk->objectPath);
    } catch (const UDisksError& error) {
        // Freed meanwhile (it was marked to go at its last close): nothing is left to detach.
        if (name && (!devices.backingFile(*name) || devices.attachSequence(*name) != sequence)) {
            return;
        }
        throw failureOf(error, disk->device);
    }
    // Still held after the wait (a forced unmount only detaches a busy file system): the image
    // stays attached, which is no success.
    if (name &&
        !events.waitUntil([&] { return !devices.backingFile(*name) || devices.attachSequence(*name) != sequence; },
                          releaseDeadline)) {
        throw ToolFailure(disk->device + ": still in use; it is freed once its last user closes it", EBUSY);
    }
}

} // namespace velmor::diskimage
