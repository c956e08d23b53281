#include "sdk/filesystem/PackedEvent.hpp"

#include <gtest/gtest.h>

#include <cerrno>
#include <limits>

namespace sweepkit {
namespace {

using velmor::Error;
using velmor::Stat;

void expectSame(const Event& unpacked, const Event& event) {
    EXPECT_EQ(unpacked.kind(), event.kind());
    EXPECT_EQ(unpacked.path(), event.path());
    EXPECT_EQ(unpacked.hasDeletePermission(), event.hasDeletePermission());
    ASSERT_EQ(unpacked.stat() != nullptr, event.stat() != nullptr);
    if (event.stat() != nullptr) {
        EXPECT_EQ(*unpacked.stat(), *event.stat());
    }
    ASSERT_EQ(unpacked.error() != nullptr, event.error() != nullptr);
    if (event.error() != nullptr) {
        EXPECT_EQ(*unpacked.error(), *event.error());
    }
}

Stat extremeStat() {
    Stat stat;
    stat.st_dev = std::numeric_limits<std::int32_t>::min();
    stat.st_mode = 0xffff;
    stat.st_nlink = 0xffff;
    stat.st_ino = std::numeric_limits<std::uint64_t>::max();
    stat.st_uid = std::numeric_limits<std::uint32_t>::max();
    stat.st_gid = 65534;
    stat.st_rdev = -1;
    stat.st_atimespec = {std::numeric_limits<std::int64_t>::min(), 999999999};
    stat.st_mtimespec = {std::numeric_limits<std::int64_t>::max(), -1};
    stat.st_ctimespec = {-1, 0};
    stat.st_birthtimespec = {1700000000, 123456789};
    stat.st_size = std::numeric_limits<std::int64_t>::max();
    stat.st_blocks = std::numeric_limits<std::int64_t>::min();
    stat.st_blksize = std::numeric_limits<std::int32_t>::max();
    stat.st_flags = 0x80000000u;
    stat.st_gen = 7;
    stat.st_lspare = std::numeric_limits<std::int32_t>::min();
    stat.st_qspare = {std::numeric_limits<std::int64_t>::min(), std::numeric_limits<std::int64_t>::max()};
    return stat;
}

TEST(PackedEvent, UnpacksToTheEventPackedWhateverItCarries) {
    Stat usual;
    usual.st_mode = 0100644;
    usual.st_ino = 1234567;
    usual.st_size = 4096;
    usual.st_mtimespec = {1700000000, 5};
    const std::string longPath = "/" + std::string(300, 'n') + "/\xff\xfe name";
    const Event events[] = {
        Event::file("/home/user/a.txt", usual, true),
        Event::file(longPath, extremeStat(), false),
        Event::enterDirectory("/home/user", usual, true),
        Event::leaveDirectory("/home/user", usual),
        Event::symlink("/l", Stat{}, true),
        Event::cycle("/loop"),
        Event::fileWithNoStat(""),
        Event::fileError("/gone", Error::posixForPath(ENOENT, "/gone")),
        Event::error("/walked", Error::posix(EIO)),
    };
    for (const Event& event : events) {
        SCOPED_TRACE(event.path());
        PackedEvent packed(event);
        EXPECT_EQ(packed.path(), event.path());
        expectSame(packed.unpack(), event);
        // Moved, and moved onto another, it still unpacks the same and frees what it held once.
        PackedEvent moved(std::move(packed));
        PackedEvent other(Event::error("/other", Error::posix(EPERM)));
        other = std::move(moved);
        expectSame(other.unpack(), event);
    }
}

} // namespace
} // namespace sweepkit
