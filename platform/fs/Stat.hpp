#pragma once

#include <array>
#include <compare>
#include <cstdint>
#include <optional>
#include <string>

struct stat;
struct statx;

namespace velmor {

struct Timespec {
    std::int64_t tv_sec = 0;
    std::int64_t tv_nsec = 0;

    friend bool operator==(const Timespec&, const Timespec&) = default;
    friend auto operator<=>(const Timespec&, const Timespec&) = default;
};

// The file status record with the field set the rest of the system was designed around. Linux
// supplies most fields; those it has no source for (flags, generation, spares, and the birth time
// outside `statx`) are 0.
struct Stat {
    std::int32_t st_dev = 0;
    std::uint16_t st_mode = 0;
    std::uint16_t st_nlink = 0;
    std::uint64_t st_ino = 0;
    std::uint32_t st_uid = 0;
    std::uint32_t st_gid = 0;
    std::int32_t st_rdev = 0;
    Timespec st_atimespec;
    Timespec st_mtimespec;
    Timespec st_ctimespec;
    Timespec st_birthtimespec;
    std::int64_t st_size = 0;
    std::int64_t st_blocks = 0;
    std::int32_t st_blksize = 0;
    std::uint32_t st_flags = 0;
    std::uint32_t st_gen = 0;
    std::int32_t st_lspare = 0;
    std::array<std::int64_t, 2> st_qspare{};

    static Stat fromLinux(const struct ::stat& record);
    static Stat fromStatx(const struct ::statx& record);

    // One system call each. `lstat` does not follow a final symbolic link; both fill the birth time
    // where the file system records one. Nothing on failure, with errno set.
    static std::optional<Stat> statPath(const std::string& path);
    static std::optional<Stat> lstatPath(const std::string& path);

    friend bool operator==(const Stat&, const Stat&) = default;
};

} // namespace velmor
