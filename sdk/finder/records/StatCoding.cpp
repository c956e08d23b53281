#include "sdk/finder/records/StatCoding.hpp"

namespace velmor::coding {

Value Coding<Timespec>::encode(const Timespec& time) {
    return Object{{"tv_sec", time.tv_sec}, {"tv_nsec", time.tv_nsec}};
}

Timespec Coding<Timespec>::decode(const Decoder& decoder) {
    return Timespec{decoder.decode<std::int64_t>("tv_sec"), decoder.decode<std::int64_t>("tv_nsec")};
}

Value Coding<Stat>::encode(const Stat& stat) {
    return Object{
        {"st_dev", stat.st_dev},
        {"st_mode", stat.st_mode},
        {"st_nlink", stat.st_nlink},
        {"st_ino", stat.st_ino},
        {"st_uid", stat.st_uid},
        {"st_gid", stat.st_gid},
        {"st_rdev", stat.st_rdev},
        {"st_atimespec", velmor::coding::encode(stat.st_atimespec)},
        {"st_mtimespec", velmor::coding::encode(stat.st_mtimespec)},
        {"st_ctimespec", velmor::coding::encode(stat.st_ctimespec)},
        {"st_birthtimespec", velmor::coding::encode(stat.st_birthtimespec)},
        {"st_size", stat.st_size},
        {"st_blocks", stat.st_blocks},
        {"st_blksize", stat.st_blksize},
        {"st_flags", stat.st_flags},
        {"st_gen", stat.st_gen},
        {"st_lspare", stat.st_lspare},
        {"st_qspare0", stat.st_qspare[0]},
        {"st_qspare1", stat.st_qspare[1]},
    };
}

Stat Coding<Stat>::decode(const Decoder& decoder) {
    Stat stat;
    stat.st_dev = decoder.decode<std::int32_t>("st_dev");
    stat.st_mode = decoder.decode<std::uint16_t>("st_mode");
    stat.st_nlink = decoder.decode<std::uint16_t>("st_nlink");
    stat.st_ino = decoder.decode<std::uint64_t>("st_ino");
    stat.st_uid = decoder.decode<std::uint32_t>("st_uid");
    stat.st_gid = decoder.decode<std::uint32_t>("st_gid");
    stat.st_rdev = decoder.decode<std::int32_t>("st_rdev");
    stat.st_atimespec = decoder.decode<Timespec>("st_atimespec");
    stat.st_mtimespec = decoder.decode<Timespec>("st_mtimespec");
    stat.st_ctimespec = decoder.decode<Timespec>("st_ctimespec");
    stat.st_birthtimespec = decoder.decode<Timespec>("st_birthtimespec");
    stat.st_size = decoder.decode<std::int64_t>("st_size");
    stat.st_blocks = decoder.decode<std::int64_t>("st_blocks");
    stat.st_blksize = decoder.decode<std::int32_t>("st_blksize");
    stat.st_flags = decoder.decode<std::uint32_t>("st_flags");
    stat.st_gen = decoder.decode<std::uint32_t>("st_gen");
    stat.st_lspare = decoder.decode<std::int32_t>("st_lspare");
    stat.st_qspare[0] = decoder.decode<std::int64_t>("st_qspare0");
    stat.st_qspare[1] = decoder.decode<std::int64_t>("st_qspare1");
    return stat;
}

} // namespace velmor::coding
