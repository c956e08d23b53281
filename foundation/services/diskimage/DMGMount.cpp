#include "foundation/services/diskimage/DMGMount.hpp"

namespace velmor {

DMGMount::~DMGMount() {
    if (!deinitDetachBlock_) {
        return;
    }
    // Taken out first, so the block runs once whatever it does with the mount.
    DetachBlock block = std::move(deinitDetachBlock_);
    deinitDetachBlock_ = nullptr;
    try {
        block(*this);
    } catch (...) {
        if (loggerFactory_) {
            if (auto logger = loggerFactory_("DMGMount")) {
                logger->error([this] { return "Couldn't detach " + description() + " on its deinit"; });
            }
        }
    }
}

std::vector<DMGPartition> DMGMount::mountablePartitions() const {
    std::vector<DMGPartition> present;
    for (const auto& partition : partitions_) {
        if (partition.isPresent()) {
            present.push_back(partition);
        }
    }
    return present;
}

bool DMGMount::isMounted() const {
    for (const auto& partition : partitions_) {
        if (partition.isPresent()) {
            return true;
        }
    }
    return false;
}

std::string DMGMount::description() const {
    std::string source = internalDiskImageURL_ ? internalDiskImageURL_->path() : "unknown";
    if (diskImageURL_ && diskImageURL_->path() != source) {
        source += " (public: " + diskImageURL_->path() + ")";
    }
    std::string text = "<DMGMount (source: " + source + ") - ";
    if (partitions_.empty()) {
        text += "no partition";
    } else if (partitions_.size() == 1) {
        text += "has 1 partition: " + partitions_.front().description();
    } else {
        text += "has " + std::to_string(partitions_.size()) + " partitions:";
        for (const auto& partition : partitions_) {
            text += "\n - " + partition.description();
        }
    }
    return text + ">";
}

} // namespace velmor
