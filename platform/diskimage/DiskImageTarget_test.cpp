#include "platform/diskimage/DiskImageTarget.hpp"

#include "platform/testing/TemporaryDirectory.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

namespace velmor::diskimage {
namespace {

// A block-device folder laid out as sysfs lays it: partitions inside their disk's folder, with a
// link of their own at the top.
class FakeBlockDevices : public ::testing::Test {
protected:
    void SetUp() override {
        sysfs.writeFile("loop0/loop/backing_file", "/images/a b.img\n");
        sysfs.writeFile("loop0/diskseq", "17\n");
        sysfs.writeFile("loop0/loop0p1/partition", "1\n");
        sysfs.writeFile("loop1/diskseq", "4\n");
        sysfs.writeFile("sda/sda1/partition", "1\n");
        ASSERT_EQ(::symlink("loop0/loop0p1", (sysfs / "loop0p1").c_str()), 0);
        ASSERT_EQ(::symlink("sda/sda1", (sysfs / "sda1").c_str()), 0);
    }

    testing::TemporaryDirectory sysfs;
    BlockDevices devices{sysfs.path()};
    std::vector<MountEntry> mounts = {{"/", "/dev/sda1", "ext4"},
                                      {"/media/root/My Data", "/dev/loop0p1", "ext4"},
                                      {"/media/root/Old", "/dev/loop1", "ext4"}};
};

TEST_F(FakeBlockDevices, FindsTheWholeDiskOfADevice) {
    EXPECT_EQ(devices.wholeDiskName("/dev/loop0p1"), "loop0");
    EXPECT_EQ(devices.wholeDiskName("/dev/loop0"), "loop0");
    EXPECT_EQ(devices.wholeDiskName("sda1"), "sda");
    EXPECT_EQ(devices.wholeDiskName("/dev/nvme9n1"), std::nullopt);
    EXPECT_EQ(devices.wholeDiskName(""), std::nullopt);
}

TEST_F(FakeBlockDevices, ReportsBackingFilesAndSequencesOfLoopDevicesOnly) {
    EXPECT_EQ(devices.backingFile("loop0"), "/images/a b.img");
    EXPECT_EQ(devices.backingFile("loop1"), std::nullopt) << "a free loop device";
    EXPECT_EQ(devices.backingFile("sda"), std::nullopt);
    EXPECT_EQ(devices.backingFile("loop0p1"), std::nullopt) << "a partition is no loop device";
    EXPECT_EQ(devices.attachSequence("loop0"), 17u);
    EXPECT_EQ(devices.attachSequence("sda"), std::nullopt);
    EXPECT_EQ(devices.attachSequence("../loop0"), std::nullopt);
}

TEST_F(FakeBlockDevices, ResolvesDevicePathsNamesAndMountPoints) {
    const std::vector<std::tuple<std::string, std::string, std::string>> cases = {
        {"/dev/loop0p1", "loop0", "/dev/loop0p1"},
        {"/dev/loop0", "loop0", "/dev/loop0"},
        {"loop0", "loop0", "/dev/loop0"},
        {"/media/root/My Data", "loop0", "/dev/loop0p1"},
        {"/media/root/My Data/", "loop0", "/dev/loop0p1"},
        {"/media/root/Old", "loop1", "/dev/loop1"},
    };
    for (const auto& [target, disk, device] : cases) {
        const auto resolved = DiskImageTarget::resolve(target, mounts, devices);
        EXPECT_EQ(resolved.disk, disk) << target;
        EXPECT_EQ(resolved.device, device) << target;
    }
}

TEST_F(FakeBlockDevices, RefusesTargetsThatAreNoLoopDevice) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"/", "/: not a disk image"},
        {"/dev/sda1", "/dev/sda1: not a disk image"},
        {"sda", "sda: not a disk image"},
        {"/media/nothing", "/media/nothing: no such device or mount point"},
        {"nvme9n1", "nvme9n1: no such device or mount point"},
    };
    for (const auto& [target, message] : cases) {
        try {
            DiskImageTarget::resolve(target, mounts, devices);
            ADD_FAILURE() << "accepted " << target;
        } catch (const TargetError& error) {
            EXPECT_EQ(std::string(error.what()).rfind(message, 0), 0u) << error.what();
        }
    }
}

} // namespace
} // namespace velmor::diskimage
