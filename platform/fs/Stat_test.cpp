#include "platform/fs/Stat.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace velmor {

TEST(Stat, FromLinuxCopiesTheSharedFields) {
    char dir[] = "/tmp/stat-test-XXXXXX";
    ASSERT_NE(::mkdtemp(dir), nullptr);
    std::string file = std::string(dir) + "/f";
    int fd = ::open(file.c_str(), O_CREAT | O_WRONLY, 0640);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::write(fd, "hello", 5), 5);
    ::close(fd);
    ASSERT_EQ(::symlink("f", (std::string(dir) + "/link").c_str()), 0);

    struct ::stat linux {};
    ASSERT_EQ(::lstat(file.c_str(), &linux), 0);
    Stat record = Stat::fromLinux(linux);
    EXPECT_EQ(record.st_size, 5);
    EXPECT_EQ(record.st_mode, linux.st_mode);
    EXPECT_EQ(record.st_ino, linux.st_ino);
    EXPECT_EQ(record.st_uid, linux.st_uid);
    EXPECT_EQ(record.st_nlink, 1);
    EXPECT_EQ(record.st_mtimespec.tv_sec, linux.st_mtim.tv_sec);
    EXPECT_EQ(record.st_mtimespec.tv_nsec, linux.st_mtim.tv_nsec);
    EXPECT_EQ(record.st_flags, 0u);
    EXPECT_EQ(record.st_qspare[0], 0);

    auto viaStatx = Stat::lstatPath(file);
    ASSERT_TRUE(viaStatx);
    Stat withoutBirth = *viaStatx;
    withoutBirth.st_birthtimespec = {};
    EXPECT_EQ(withoutBirth, record);

    auto link = Stat::lstatPath(std::string(dir) + "/link");
    auto followed = Stat::statPath(std::string(dir) + "/link");
    ASSERT_TRUE(link && followed);
    EXPECT_TRUE(S_ISLNK(link->st_mode));
    EXPECT_TRUE(S_ISREG(followed->st_mode));
    EXPECT_FALSE(Stat::statPath(std::string(dir) + "/missing"));
    EXPECT_EQ(errno, ENOENT);
    std::filesystem::remove_all(dir);
}

TEST(Stat, TimespecOrdersBySecondsThenNanoseconds) {
    EXPECT_LT((Timespec{1, 999}), (Timespec{2, 0}));
    EXPECT_LT((Timespec{2, 1}), (Timespec{2, 2}));
    EXPECT_EQ((Timespec{2, 2}), (Timespec{2, 2}));
}

} // namespace velmor
