#include "platform/diskimage/ImageProbe.hpp"

#include <blkid/blkid.h>

#include <cstring>
#include <memory>
#include <stdexcept>

namespace velmor::diskimage {

namespace {

using Probe = std::unique_ptr<std::remove_pointer_t<blkid_probe>, decltype(&blkid_free_probe)>;

Probe newProbe(int descriptor, blkid_loff_t offset, blkid_loff_t size, const std::string& path) {
    Probe probe(blkid_new_probe(), &blkid_free_probe);
    if (!probe || blkid_probe_set_device(probe.get(), descriptor, offset, size) != 0) {
        throw std::runtime_error(path + ": cannot read the image");
    }
    blkid_probe_enable_superblocks(probe.get(), 1);
    blkid_probe_set_superblocks_flags(probe.get(), BLKID_SUBLKS_TYPE | BLKID_SUBLKS_USAGE);
    return probe;
}

// The usage of the volume the probe found ("filesystem", "crypto", ...), empty for none.
std::string usageOf(blkid_probe probe) {
    const char* value = nullptr;
    if (blkid_probe_lookup_value(probe, "USAGE", &value, nullptr) == 0 && value != nullptr) {
        return value;
    }
    return {};
}

} // namespace

ImageProbe ImageProbe::probe(int descriptor, const std::string& path) {
    ImageProbe result;
    Probe whole = newProbe(descriptor, 0, 0, path);
    blkid_probe_enable_partitions(whole.get(), 1);
    // 1 means nothing found; ambivalent results (-2) count as nothing recognisable.
    if (blkid_do_safeprobe(whole.get()) == 0) {
        const std::string usage = usageOf(whole.get());
        result.hasFilesystem = usage == "filesystem";
        result.encrypted = usage == "crypto";
        const char* table = nullptr;
        result.hasPartitionTable = blkid_probe_lookup_value(whole.get(), "PTTYPE", &table, nullptr) == 0;
    }
    if (!result.hasPartitionTable) {
        return result;
    }
    blkid_partlist list = blkid_probe_get_partitions(whole.get());
    const int count = list ? blkid_partlist_numof_partitions(list) : 0;
    // Partition places are counted in 512-byte sectors whatever the disk's own sector size.
    constexpr blkid_loff_t sector = 512;
    for (int i = 0; i < count; ++i) {
        blkid_partition partition = blkid_partlist_get_partition(list, i);
        const auto number = static_cast<std::uint32_t>(blkid_partition_get_partno(partition));
        result.partitions.push_back(number);
        // An extended partition only holds others.
        if (blkid_partition_is_extended(partition)) {
            continue;
        }
        Probe inner = newProbe(descriptor, blkid_partition_get_start(partition) * sector,
                               blkid_partition_get_size(partition) * sector, path);
        if (blkid_do_safeprobe(inner.get()) == 0) {
            const std::string usage = usageOf(inner.get());
            if (usage == "filesystem") {
                result.partitionsWithFilesystem.push_back(number);
            } else if (usage == "crypto") {
                result.encrypted = true;
            }
        }
    }
    return result;
}

} // namespace velmor::diskimage
