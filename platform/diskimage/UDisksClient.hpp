#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

struct sd_bus;

namespace velmor::diskimage {

// A failed call of the disk service: its D-Bus error name and message.
class UDisksError : public std::runtime_error {
public:
    UDisksError(std::string name, const std::string& message) : std::runtime_error(message), name_(std::move(name)) {}
    const std::string& name() const { return name_; }
    bool isBusy() const { return name_ == "org.freedesktop.UDisks2.Error.DeviceBusy"; }
    // A loop set-up whose free device another set-up took first, or was changing as it came; a new
    // set-up picks another.
    bool isLoopDeviceTaken() const;
    // A mount whose mount point, named after the volume's label, another mount made first; a new
    // mount picks another name.
    bool isMountPointTaken() const;

private:
    std::string name_;
};

// What the disk service knows of one block device.
struct UDisksBlock {
    std::string objectPath;
    std::string device; // "/dev/loop0"
    std::string idUsage; // "filesystem", "crypto", ...
    bool readOnly = false;
    bool hasFilesystem = false;
    std::vector<std::string> mountPoints;
    bool isLoop = false;
    std::string backingFile;
    bool hasPartitionTable = false;
    // For a partition: the object path of the block holding its table, and its number.
    std::string partitionTable;
    std::uint32_t partitionNumber = 0;
};

// The udisks2 service on the system bus (DBUS_SYSTEM_BUS_ADDRESS when set). Every call throws
// `UDisksError` on failure; none asks for interactive authorisation.
class UDisksClient {
public:
    UDisksClient();
    ~UDisksClient();
    UDisksClient(const UDisksClient&) = delete;
    UDisksClient& operator=(const UDisksClient&) = delete;

    std::vector<UDisksBlock> blocks();
    // A read-only loop device over the open file `descriptor`; returns the new block's object path.
    std::string loopSetup(int descriptor);
    // Mounts read-only; returns the mount point the service chose.
    std::string mount(const std::string& objectPath);
    void unmount(const std::string& objectPath, bool force);
    void loopDelete(const std::string& objectPath);

private:
    sd_bus* bus_ = nullptr;
};

} // namespace velmor::diskimage
