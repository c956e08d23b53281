#pragma once

#include "foundation/core/log/Logger.hpp"
#include "foundation/services/diskimage/DMGPartition.hpp"
#include "platform/error/Error.hpp"
#include "platform/fs/URL.hpp"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace velmor {

// One disk image attached to the system, with its partitions. Shared by reference; when the last
// reference goes, the detach block (if any) runs on the releasing thread.
class DMGMount {
public:
    enum class DMGMountError { invalidArguments, timeout };
    using DetachBlock = std::function<void(DMGMount&)>;

    explicit DMGMount(LoggerFactory loggerFactory) : loggerFactory_(std::move(loggerFactory)) {}
    ~DMGMount();
    DMGMount(const DMGMount&) = delete;
    DMGMount& operator=(const DMGMount&) = delete;

    const std::optional<URL>& diskImageURL() const { return diskImageURL_; }
    const std::vector<DMGPartition>& partitions() const { return partitions_; }
    int subVolumesCount() const { return static_cast<int>(partitions_.size()); }
    // The partitions that are mounted, attached or on an attached whole disk, in their order.
    std::vector<DMGPartition> mountablePartitions() const;
    // At least one partition is present.
    bool isMounted() const;

    std::string description() const;
    std::string debugDescription() const { return description(); }

    // Filled by the disk-image operations of this library.
    const std::optional<URL>& symlinkDiskImageURL() const { return symlinkDiskImageURL_; }
    const std::optional<URL>& internalDiskImageURL() const { return internalDiskImageURL_; }
    const DetachBlock& deinitDetachBlock() const { return deinitDetachBlock_; }
    const LoggerFactory& loggerFactory() const { return loggerFactory_; }
    void setSymlinkDiskImageURL(std::optional<URL> url) { symlinkDiskImageURL_ = std::move(url); }
    // Whether the link at `symlinkDiskImageURL` was made by attach for this mount (and may be removed
    // on detach), rather than one the listing named.
    bool ownsSymlink() const { return ownsSymlink_; }
    void setOwnsSymlink(bool owns) { ownsSymlink_ = owns; }
    void setDiskImageURL(std::optional<URL> url) { diskImageURL_ = std::move(url); }
    void setInternalDiskImageURL(std::optional<URL> url) { internalDiskImageURL_ = std::move(url); }
    void setPartitions(std::vector<DMGPartition> partitions) { partitions_ = std::move(partitions); }
    void appendPartition(DMGPartition partition) { partitions_.push_back(std::move(partition)); }
    void setDeinitDetachBlock(DetachBlock block) { deinitDetachBlock_ = std::move(block); }

private:
    std::optional<URL> symlinkDiskImageURL_;
    bool ownsSymlink_ = false;
    std::optional<URL> diskImageURL_;
    std::optional<URL> internalDiskImageURL_;
    std::vector<DMGPartition> partitions_;
    DetachBlock deinitDetachBlock_;
    LoggerFactory loggerFactory_;
};

template <> struct ErrorDomain<DMGMount::DMGMountError> {
    static constexpr const char* value = "VelmorFoundation.DMGMount.DMGMountError";
};

} // namespace velmor
