#pragma once

#include <optional>
#include <string>
#include <vector>

namespace velmor::diskimage {

// One device node of an attached image: the loop device itself or one of its partitions.
struct SystemEntity {
    std::string devEntry;
    // The disk service sees a file system on it.
    bool potentiallyMountable = false;
    std::optional<std::string> mountPoint;
};

struct AttachedImage {
    // The backing file as the kernel reports it.
    std::string imagePath;
    std::vector<SystemEntity> entities;
};

// XML property lists as the disk-image tools print them, each mount point and image path as
// `pathText` writes it:
// {"system-entities": [{"dev-entry", "potentially-mountable", "mount-point"?}, ...]}
std::string attachPropertyList(const std::vector<SystemEntity>& entities);
// {"images": [{"image-path", "system-entities"}, ...]}
std::string infoPropertyList(const std::vector<AttachedImage>& images);

} // namespace velmor::diskimage
