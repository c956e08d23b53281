#include "foundation/services/diskimage/DMGMount.hpp"

#include "foundation/core/log/RecordingLogger.hpp"
#include "foundation/services/diskimage/DMGMounterError.hpp"
#include "platform/diskimage/BlockDevices.hpp"
#include "platform/fs/MountTable.hpp"
#include "platform/process/Process.hpp"
#include "platform/testing/TemporaryDirectory.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <sys/mount.h>
#include <unistd.h>

namespace velmor {
namespace {

using testing::RecordingLogger;

std::shared_ptr<DMGMount> makeMount(std::optional<std::string> internal, std::optional<std::string> publicPath,
                                    std::vector<DMGPartition> partitions, LoggerFactory factory = nullptr) {
    auto mount = std::make_shared<DMGMount>(std::move(factory));
    if (internal) {
        mount->setInternalDiskImageURL(URL::fileURL(*internal));
    }
    if (publicPath) {
        mount->setDiskImageURL(URL::fileURL(*publicPath));
    }
    mount->setPartitions(std::move(partitions));
    return mount;
}

TEST(DMGMountTest, DescribesPartitionsAndMountsInTheirFixedForms) {
    const DMGPartition data(URL::fileURL("/Volumes/Data/"), "/dev/disk4s2", "disk4");
    const DMGPartition unmountable(std::nullopt, "/dev/disk5s1", "disk5");
    const DMGPartition bare(std::nullopt, std::nullopt, std::nullopt);
    const DMGPartition blank(URL::fileURL("/media/root/My Data/"), "/dev/loop0", std::nullopt);
    EXPECT_EQ(data.description(),
              "<Partition devEntry:/dev/disk4s2, mounted at: 'file:///Volumes/Data/', wholeDiskDevEntry: disk4>");
    EXPECT_EQ(unmountable.description(),
              "<Partition devEntry:/dev/disk5s1, nil mountpoint (unmountable), wholeDiskDevEntry: disk5>");
    EXPECT_EQ(bare.description(), "<Partition devEntry:nil, nil mountpoint (unmountable)>");
    EXPECT_EQ(blank.description(), "<Partition devEntry:/dev/loop0, mounted at: 'file:///media/root/My%20Data/'>");

    const DMGPartition second(URL::fileURL("/Volumes/A/"), "/dev/disk5s2", "disk5");
    const std::vector<std::pair<std::shared_ptr<DMGMount>, std::string>> mounts = {
        {makeMount(std::nullopt, std::nullopt, {}), "<DMGMount (source: unknown) - no partition>"},
        {makeMount("/images/a.dmg", "/images/a.dmg", {}), "<DMGMount (source: /images/a.dmg) - no partition>"},
        {makeMount(std::nullopt, "/images/a.dmg", {}),
         "<DMGMount (source: unknown (public: /images/a.dmg)) - no partition>"},
        {makeMount("/tmp/X/a.toast2.dmg", "/images/a.toast2", {data}),
         "<DMGMount (source: /tmp/X/a.toast2.dmg (public: /images/a.toast2)) - has 1 partition: " +
             data.description() + ">"},
        {makeMount("/private/var/images/a.dmg", std::nullopt, {unmountable, second}),
         "<DMGMount (source: /private/var/images/a.dmg) - has 2 partitions:\n"
         " - <Partition devEntry:/dev/disk5s1, nil mountpoint (unmountable), wholeDiskDevEntry: disk5>\n"
         " - <Partition devEntry:/dev/disk5s2, mounted at: 'file:///Volumes/A/', wholeDiskDevEntry: disk5>>"},
    };
    for (const auto& [mount, text] : mounts) {
        EXPECT_EQ(mount->description(), text);
        EXPECT_EQ(mount->debugDescription(), text);
    }
}

TEST(DMGMountTest, EqualityIgnoresTheAttachSequence) {
    const DMGPartition a(std::nullopt, "/dev/loop1", "loop1", 7);
    EXPECT_EQ(a, DMGPartition(std::nullopt, "/dev/loop1", "loop1", 9));
    EXPECT_FALSE(a == DMGPartition(std::nullopt, "/dev/loop1", std::nullopt, 7));
    EXPECT_FALSE(a == DMGPartition(URL::fileURL("/mnt/"), "/dev/loop1", "loop1", 7));
}

TEST(DMGMountTest, PresenceAsksTheSystem) {
    // /dev/null is a node that is no disk: its existence alone makes it attached.
    const DMGPartition gone(URL::fileURL("/no/such/mount/"), "/no/such/device", "no-such-disk");
    const DMGPartition nodeOnly(URL::fileURL("/no/such/mount/"), "/dev/null", std::nullopt);
    const DMGPartition wholeDiskOnly(std::nullopt, std::nullopt, "null");
    const DMGPartition rootVolume(URL::fileURL("/"), std::nullopt, std::nullopt);
    EXPECT_FALSE(gone.isMounted() || gone.isAttached() || gone.isWholeDiskAttached());
    EXPECT_FALSE(nodeOnly.isMounted());
    EXPECT_TRUE(nodeOnly.isAttached());
    EXPECT_TRUE(wholeDiskOnly.isWholeDiskAttached());
    EXPECT_TRUE(rootVolume.isMounted());

    const auto empty = makeMount(std::nullopt, std::nullopt, {});
    EXPECT_FALSE(empty->isMounted());
    EXPECT_TRUE(empty->mountablePartitions().empty());
    EXPECT_EQ(empty->subVolumesCount(), 0);

    const auto mixed = makeMount("/a.img", std::nullopt, {gone, nodeOnly, wholeDiskOnly});
    EXPECT_TRUE(mixed->isMounted());
    EXPECT_EQ(mixed->mountablePartitions(), (std::vector<DMGPartition>{nodeOnly, wholeDiskOnly}));
    EXPECT_EQ(mixed->subVolumesCount(), 3);
    EXPECT_FALSE(makeMount("/a.img", std::nullopt, {gone})->isMounted());
}

TEST(DMGMountTest, ReleaseRunsTheDetachBlockOnceAndLogsItsFailureOnce) {
    auto logger = std::make_shared<RecordingLogger>();
    std::vector<std::string> categories;
    const LoggerFactory factory = [&](const std::string& category) {
        categories.push_back(category);
        return logger;
    };
    int runs = 0;
    std::string seen;
    {
        auto mount = makeMount("/a.img", std::nullopt, {}, factory);
        mount->setDeinitDetachBlock([&](DMGMount& released) {
            ++runs;
            seen = released.description();
        });
        auto second = mount;
        mount.reset();
        EXPECT_EQ(runs, 0) << "a reference remains";
    }
    EXPECT_EQ(runs, 1);
    EXPECT_EQ(seen, "<DMGMount (source: /a.img) - no partition>");
    EXPECT_TRUE(logger->lines().empty());

    {
        auto mount = makeMount("/b.img", std::nullopt, {}, factory);
        mount->setDeinitDetachBlock([&](DMGMount&) {
            ++runs;
            throw DMGMounterError::failedToDetach();
        });
    }
    EXPECT_EQ(runs, 2);
    EXPECT_EQ(logger->lines(), (std::vector<std::string>{
                                   "error: Couldn't detach <DMGMount (source: /b.img) - no partition> on its deinit"}));
    EXPECT_EQ(categories, (std::vector<std::string>{"DMGMount"}));

    // Without a block nothing is asked of the factory.
    { auto mount = makeMount("/c.img", std::nullopt, {}, factory); }
    EXPECT_EQ(categories.size(), 1u);
}

TEST(DMGMountTest, MounterErrorsPresentTheirCaseAndPayload) {
    auto found = makeMount("/a.img", std::nullopt, {});
    const auto already = DMGMounterError::alreadyMounted(found);
    EXPECT_EQ(already.kind(), DMGMounterError::Case::alreadyMounted);
    EXPECT_EQ(already.mount(), found);
    const auto other = DMGMounterError::otherError("stdout: \nstderr: boom");
    EXPECT_EQ(other.hdiutilOutput(), "stdout: \nstderr: boom");
    EXPECT_EQ(other.toError(), Error("VelmorFoundation.DMGMounterError", 0));
    EXPECT_EQ(DMGMounterError::failedToDetach().toError().code(), 5);
    EXPECT_EQ(TypedError<DMGMount::DMGMountError>(DMGMount::DMGMountError::timeout).toError(),
              Error("VelmorFoundation.DMGMount.DMGMountError", 1));
}

// Loop devices of the test's own, set up with the system's losetup; the tests skip where there are
// none to be had.
class LoopDeviceTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (::geteuid() != 0) {
            GTEST_SKIP() << "loop devices need root";
        }
        if (::access("/dev/loop-control", W_OK) != 0 || ::access("/usr/sbin/losetup", X_OK) != 0) {
            GTEST_SKIP() << "no loop devices here (/dev/loop-control or losetup missing)";
        }
    }
    void TearDown() override {
        if (!mounted.empty()) {
            ::umount2(mounted.c_str(), MNT_DETACH);
        }
        for (const auto& device : attached) {
            run("/usr/sbin/losetup", {"-d", device});
        }
    }

    static Process::Result run(const std::string& tool, const std::vector<std::string>& arguments) {
        return Process::run(tool, arguments);
    }

    std::string image(const std::string& name, bool withFilesystem) {
        const std::string path = folder / name;
        folder.writeFile(name, std::string(8 << 20, '\0'));
        if (withFilesystem) {
            EXPECT_EQ(run("/usr/sbin/mkfs.ext4", {"-q", "-L", "My Data", path}).terminationStatus, 0);
        }
        return path;
    }

    // Attaches `path` (to `device` when given); empty when the system refuses.
    std::string attach(const std::string& path, const std::string& device = "") {
        auto result = device.empty() ? run("/usr/sbin/losetup", {"-f", "--show", "-r", path})
                                     : run("/usr/sbin/losetup", {"-r", device, path});
        if (result.terminationStatus != 0) {
            return "";
        }
        std::string node = device.empty() ? result.standardOutput : device;
        while (!node.empty() && node.back() == '\n') {
            node.pop_back();
        }
        attached.push_back(node);
        return node;
    }

    void detach(const std::string& device) {
        run("/usr/sbin/losetup", {"-d", device});
        std::erase(attached, device);
    }

    testing::TemporaryDirectory folder;
    std::vector<std::string> attached;
    std::string mounted;
};

TEST_F(LoopDeviceTest, AFreedLoopDeviceReusedByAnotherImageIsNotTheOldRecords) {
    const std::string device = attach(image("a.img", false));
    if (device.empty()) {
        GTEST_SKIP() << "losetup could not attach an image here";
    }
    const std::string disk = device.substr(5);
    const auto record = DMGPartition::recordingAttachSequence(std::nullopt, device, disk);
    ASSERT_TRUE(record.attachSequence().has_value()) << "the kernel reports no disk sequence";
    EXPECT_TRUE(record.isAttached());
    EXPECT_TRUE(record.isWholeDiskAttached());

    detach(device);
    // The device manager may still hold the node open from its probe; the kernel frees the device
    // when it lets go.
    for (int i = 0; i < 100 && BlockDevices().backingFile(disk); ++i) {
        ::usleep(50'000);
    }
    EXPECT_FALSE(record.isAttached()) << "the node stays but nothing backs it";
    EXPECT_FALSE(record.isWholeDiskAttached());

    if (attach(image("b.img", false), device).empty()) {
        GTEST_SKIP() << device << " was taken by someone else meanwhile";
    }
    EXPECT_FALSE(record.isAttached()) << "another image now backs the device";
    EXPECT_FALSE(record.isWholeDiskAttached());
    EXPECT_TRUE(DMGPartition::recordingAttachSequence(std::nullopt, device, disk).isAttached());
}

TEST_F(LoopDeviceTest, AMountPointWithABlankIsMountedFromItsOwnDeviceOnly) {
    const std::string device = attach(image("a.img", true));
    if (device.empty()) {
        GTEST_SKIP() << "losetup could not attach an image here";
    }
    const std::string point = folder.makeDirectory("My Data");
    if (::mount(device.c_str(), point.c_str(), "ext4", MS_RDONLY, nullptr) != 0) {
        GTEST_SKIP() << "cannot mount here: " << std::strerror(errno);
    }
    mounted = point;
    const URL pointURL = URL::fileURL(point + "/");
    const auto record = DMGPartition::recordingAttachSequence(pointURL, device, device.substr(5));
    EXPECT_TRUE(record.isMounted());
    const auto volumes = mountedVolumeURLs();
    EXPECT_NE(std::find(volumes.begin(), volumes.end(), pointURL), volumes.end()) << "mountinfo escapes the blank";
    EXPECT_TRUE(DMGPartition(pointURL, std::nullopt, std::nullopt).isMounted());
    EXPECT_FALSE(DMGPartition(pointURL, "/dev/null", std::nullopt).isMounted()) << "another device's mount";

    ASSERT_EQ(::umount(point.c_str()), 0);
    mounted.clear();
    EXPECT_FALSE(record.isMounted());
    EXPECT_TRUE(record.isAttached());
}

} // namespace
} // namespace velmor
