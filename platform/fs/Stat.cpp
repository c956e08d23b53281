#include "platform/fs/Stat.hpp"

#include <algorithm>
#include <fcntl.h>
#include <limits>
#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace velmor {

namespace {

// Devices are packed the way the 32-bit device numbers of the original record are: 8 bits of
// major number above 24 bits of minor number.
std::int32_t packDevice(unsigned major, unsigned minor) {
    return static_cast<std::int32_t>((static_cast<std::uint32_t>(major) << 24) | (minor & 0xFFFFFFu));
}

std::uint16_t clampLinks(std::uint64_t links) {
    return static_cast<std::uint16_t>(
        std::min<std::uint64_t>(links, std::numeric_limits<std::uint16_t>::max()));
}

Timespec fromStatxTime(const struct ::statx_timestamp& time) {
    return Timespec{time.tv_sec, time.tv_nsec};
}

std::optional<Stat> statxPath(const std::string& path, int flags) {
    struct ::statx record {};
    if (::statx(AT_FDCWD, path.c_str(), flags, STATX_BASIC_STATS | STATX_BTIME, &record) != 0) {
        return std::nullopt;
    }
    return Stat::fromStatx(record);
}

} // namespace

Stat Stat::fromLinux(const struct ::stat& record) {
    Stat result;
    result.st_dev = packDevice(major(record.st_dev), minor(record.st_dev));
    result.st_mode = static_cast<std::uint16_t>(record.st_mode);
    result.st_nlink = clampLinks(record.st_nlink);
    result.st_ino = record.st_ino;
    result.st_uid = record.st_uid;
    result.st_gid = record.st_gid;
    result.st_rdev = packDevice(major(record.st_rdev), minor(record.st_rdev));
    result.st_atimespec = {record.st_atim.tv_sec, record.st_atim.tv_nsec};
    result.st_mtimespec = {record.st_mtim.tv_sec, record.st_mtim.tv_nsec};
    result.st_ctimespec = {record.st_ctim.tv_sec, record.st_ctim.tv_nsec};
    result.st_size = record.st_size;
    result.st_blocks = record.st_blocks;
    result.st_blksize = static_cast<std::int32_t>(record.st_blksize);
    return result;
}

Stat Stat::fromStatx(const struct ::statx& record) {
    Stat result;
    result.st_dev = packDevice(record.stx_dev_major, record.stx_dev_minor);
    result.st_mode = record.stx_mode;
    result.st_nlink = clampLinks(record.stx_nlink);
    result.st_ino = record.stx_ino;
    result.st_uid = record.stx_uid;
    result.st_gid = record.stx_gid;
    result.st_rdev = packDevice(record.stx_rdev_major, record.stx_rdev_minor);
    result.st_atimespec = fromStatxTime(record.stx_atime);
    result.st_mtimespec = fromStatxTime(record.stx_mtime);
    result.st_ctimespec = fromStatxTime(record.stx_ctime);
    if (record.stx_mask & STATX_BTIME) {
        result.st_birthtimespec = fromStatxTime(record.stx_btime);
    }
    result.st_size = static_cast<std::int64_t>(record.stx_size);
    result.st_blocks = static_cast<std::int64_t>(record.stx_blocks);
    result.st_blksize = static_cast<std::int32_t>(record.stx_blksize);
    return result;
}

std::optional<Stat> Stat::statPath(const std::string& path) {
    return statxPath(path, 0);
}

std::optional<Stat> Stat::lstatPath(const std::string& path) {
    return statxPath(path, AT_SYMLINK_NOFOLLOW);
}

} // namespace velmor
