#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace velmor::diskimage {

// What an image file holds, read from its bytes before anything is attached, so that an image the
// kernel cannot mount is refused without a trace.
struct ImageProbe {
    bool hasFilesystem = false;
    bool hasPartitionTable = false;
    // Some volume (the whole image or a partition) is encrypted.
    bool encrypted = false;
    // The numbers of the partitions, and those among them that hold a file system.
    std::vector<std::uint32_t> partitions;
    std::vector<std::uint32_t> partitionsWithFilesystem;

    // Probes the open file `descriptor`; `path` only names it in errors.
    static ImageProbe probe(int descriptor, const std::string& path);

    // Something the kernel can attach and mount (partition tables without a file system included).
    bool isAttachable() const { return !encrypted && (hasFilesystem || hasPartitionTable); }
};

} // namespace velmor::diskimage
