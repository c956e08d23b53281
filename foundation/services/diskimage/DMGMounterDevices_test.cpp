// The disk-image operations against udisks2 on real loop devices. ctest's fixture (see
// platform/diskimage/udisks-services.sh) starts the services and hands their state folder in
// VELMOR_UDISKS_STATE.
#include "foundation/core/log/RecordingLogger.hpp"
#include "foundation/services/diskimage/ASIFEjectRetrier.hpp"
#include "foundation/services/diskimage/ASIFMounter.hpp"
#include "foundation/services/diskimage/DMGMounter.hpp"
#include "foundation/services/diskimage/DMGMounterError.hpp"
#include "foundation/services/diskimage/DMGUnmounter.hpp"
#include "foundation/services/diskimage/DiskImageTool.hpp"
#include "platform/diskimage/BlockDevices.hpp"
#include "platform/dispatch/ManualTimerService.hpp"
#include "platform/fs/MountTable.hpp"
#include "platform/testing/ScopedEnvironment.hpp"
#include "platform/testing/TemporaryDirectory.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <sys/mount.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace velmor {
namespace {

class DMGMounterDevicesTest : public ::testing::Test {
protected:
    void SetUp() override {
        const char* state = std::getenv("VELMOR_UDISKS_STATE");
        if (state == nullptr) {
            GTEST_SKIP() << "run through ctest, whose fixture starts udisks2 on a private bus";
        }
        std::string reason;
        if (std::ifstream skip(std::string(state) + "/skip"); skip && std::getline(skip, reason)) {
            GTEST_SKIP() << reason;
        }
        std::string address;
        std::ifstream addressFile(std::string(state) + "/address");
        ASSERT_TRUE(std::getline(addressFile, address)) << "the fixture left no bus address in " << state;
        environment.emplace(testing::ScopedEnvironment::Settings{{"DBUS_SYSTEM_BUS_ADDRESS", address}});
    }

    void TearDown() override {
        if (busy >= 0) {
            ::close(busy);
        }
        // Whatever a failed test left attached goes, mounts first.
        devices.push_back(device);
        for (const std::string& image : images) {
            std::istringstream names(
                Process::run("/usr/sbin/losetup", {"-n", "-O", "NAME", "-j", image}).standardOutput);
            for (std::string name; std::getline(names, name);) {
                devices.push_back(name);
            }
        }
        for (const std::string& attached : devices) {
            if (attached.empty() || !BlockDevices().backingFile(attached.substr(5))) {
                continue;
            }
            for (const auto& mount : readMountTable()) {
                if (mount.source == attached) {
                    ::umount2(mount.mountPoint.c_str(), MNT_DETACH);
                }
            }
            Process::run("/usr/sbin/losetup", {"-d", attached});
        }
    }

    std::optional<testing::ScopedEnvironment> environment;
    testing::TemporaryDirectory folder;
    std::string device;
    // The devices and image files of a test that attaches more than one image.
    std::vector<std::string> devices;
    std::vector<std::string> images;
    int busy = -1;
};

TEST_F(DMGMounterDevicesTest, TheSecondKindAttachesAnImageAndEjectsItOnRelease) {
    folder.writeFile("content/hello.txt", "hello\n");
    const std::string image = folder.writeFile("data.img", std::string(16 << 20, '\0'));
    ASSERT_EQ(Process::run("/usr/sbin/mkfs.ext4", {"-q", "-d", folder / "content", image}).terminationStatus, 0);
    auto logger = std::make_shared<testing::RecordingLogger>();
    const LoggerFactory factory = [logger](const std::string&) -> std::shared_ptr<Logger> { return logger; };

    auto mount = ASIFMounter::attach(URL::fileURL(image), std::nullopt, true, factory);
    ASSERT_EQ(mount->partitions().size(), 1u);
    const DMGPartition partition = mount->partitions().front();
    ASSERT_TRUE(partition.devEntry() && partition.mountPoint() && partition.wholeDiskDevEntry());
    device = "/dev/" + *partition.wholeDiskDevEntry();
    EXPECT_EQ(BlockDevices().backingFile(*partition.wholeDiskDevEntry()), image);
    std::ifstream file(partition.mountPoint()->path() + "/hello.txt");
    std::string line;
    EXPECT_TRUE(std::getline(file, line));
    EXPECT_EQ(line, "hello");
    file.close();

    mount.reset();
    EXPECT_EQ(BlockDevices().backingFile(*partition.wholeDiskDevEntry()), std::nullopt);
    EXPECT_FALSE(partition.isPresent());
    EXPECT_EQ(ASIFEjectRetrier::shared()->pendingCount(), 0u);
    EXPECT_TRUE(logger->lines().empty());
}

TEST_F(DMGMounterDevicesTest, TheSecondKindsEjectOfAHeldDeviceFails) {
    folder.writeFile("content/hello.txt", "hello\n");
    const std::string image = folder.writeFile("data.img", std::string(16 << 20, '\0'));
    ASSERT_EQ(Process::run("/usr/sbin/mkfs.ext4", {"-q", "-d", folder / "content", image}).terminationStatus, 0);
    const auto mount = ASIFMounter::attach(URL::fileURL(image), std::nullopt, false, LoggerFactory());
    ASSERT_EQ(mount->partitions().size(), 1u);
    const DMGPartition partition = mount->partitions().front();
    ASSERT_TRUE(partition.wholeDiskDevEntry());
    device = "/dev/" + *partition.wholeDiskDevEntry();
    // Another opener of the device keeps the kernel from freeing it.
    busy = ::open(device.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(busy, 0);

    try {
        ASIFMounter::detach(*mount, false, LoggerFactory());
        ADD_FAILURE() << "the eject of a held device passed";
    } catch (const DMGMounterError& error) {
        EXPECT_EQ(error.kind(), DMGMounterError::Case::failedToDetach);
    }
    EXPECT_EQ(BlockDevices().backingFile(*partition.wholeDiskDevEntry()), image);
    EXPECT_TRUE(partition.isPresent());
}

TEST_F(DMGMounterDevicesTest, ABusyImageIsDetachedInTheBackgroundOnceFreed) {
    folder.writeFile("content/hello.txt", "hello\n");
    const std::string image = folder.writeFile("data.img", std::string(16 << 20, '\0'));
    ASSERT_EQ(Process::run("/usr/sbin/mkfs.ext4", {"-q", "-d", folder / "content", image}).terminationStatus, 0);
    const auto attached = NSTask::run(DiskImageTool::path(),
                                      {"attach", "-plist", "-noverify", "-noautoopen", "-noautofsck", "-owners", "off",
                                       "-nobrowse", "-readonly", "-mountrandom", "/private/tmp/", "-stdinpass", image},
                                      NSTask::Bytes{'s', '\0'}, 60);
    ASSERT_TRUE(attached.result().isSuccess() && attached.result().value() == 0) << attached.description();

    auto logger = std::make_shared<testing::RecordingLogger>();
    const LoggerFactory factory = [logger](const std::string&) -> std::shared_ptr<Logger> { return logger; };
    const auto mount = DMGMounter::checkIfAttached(URL::fileURL(image), factory);
    ASSERT_TRUE(mount) << "the listing does not show " << image;
    ASSERT_EQ(mount->partitions().size(), 1u);
    const DMGPartition partition = mount->partitions().front();
    ASSERT_TRUE(partition.mountPoint() && partition.devEntry());
    device = *partition.devEntry();
    busy = ::open((partition.mountPoint()->path() + "/hello.txt").c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(busy, 0);

    ASSERT_EQ(::mkdir((folder / "links").c_str(), 0700), 0);
    const std::string link = folder / "links/data.img";
    ASSERT_EQ(::symlink(image.c_str(), link.c_str()), 0);
    mount->setSymlinkDiskImageURL(URL::fileURL(link));
    mount->setOwnsSymlink(true);

    auto clock = std::make_shared<ManualTimerService>();
    ScopedTimerService scope{clock};
    DMGUnmounter::resetShared();
    const auto unmounter = DMGUnmounter::shared();
    const auto failures = [&] {
        const auto lines = logger->lines();
        return std::count_if(lines.begin(), lines.end(), [](const std::string& line) {
            return line.starts_with("error: Failed to detach  <Partition");
        });
    };
    DMGMounter::detach(mount, false, true, factory);
    for (int tries = 0; tries < 3000 && failures() < 1; ++tries) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_EQ(failures(), 1) << "the busy volume was not refused in the background";
    ASSERT_TRUE(clock->waitForPending(1));
    EXPECT_EQ(::access(link.c_str(), F_OK), 0) << "the link goes only once the image is detached";

    ::close(busy);
    busy = -1;
    clock->advance(60);
    for (int tries = 0; tries < 3000 && unmounter->pendingImageCount() > 0; ++tries) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    unmounter->detachQueue().sync([] {});
    EXPECT_EQ(unmounter->pendingImageCount(), 0u);
    EXPECT_EQ(BlockDevices().backingFile(device.substr(5)), std::nullopt);
    EXPECT_NE(::access(link.c_str(), F_OK), 0);
    EXPECT_NE(::access((folder / "links").c_str(), F_OK), 0);
    EXPECT_EQ(failures(), 1);
    DMGUnmounter::resetShared();
}

// An image whose path or mount point XML cannot hold, its file named with bytes that are no UTF-8
// and its volume labelled with control characters, is listed and found with every other image.
TEST_F(DMGMounterDevicesTest, AnImageOfOddNamesLeavesEveryImageListedAndFound) {
    folder.writeFile("content/hello.txt", "hello\n");
    const std::string odd = folder.writeFile("bad\xff\xfe\x01name.img", std::string(16 << 20, '\0'));
    const std::string plain = folder.writeFile("plain.img", std::string(16 << 20, '\0'));
    ASSERT_EQ(Process::run("/usr/sbin/mkfs.ext4", {"-q", "-L", "ctl\x01\x1b", "-d", folder / "content", odd})
                  .terminationStatus,
              0);
    ASSERT_EQ(Process::run("/usr/sbin/mkfs.ext4", {"-q", "-d", folder / "content", plain}).terminationStatus, 0);
    images = {odd, plain};
    auto logger = std::make_shared<testing::RecordingLogger>();
    const LoggerFactory factory = [logger](const std::string&) -> std::shared_ptr<Logger> { return logger; };

    std::vector<std::shared_ptr<DMGMount>> mounts;
    for (const std::string& image : {odd, plain}) {
        const auto mount = DMGMounter::attach(URL::fileURL(image), std::nullopt, false, factory);
        ASSERT_EQ(mount->partitions().size(), 1u) << image;
        ASSERT_TRUE(mount->partitions().front().devEntry()) << image;
        devices.push_back(*mount->partitions().front().devEntry());
        EXPECT_TRUE(mount->partitions().front().isMounted()) << image;
        mounts.push_back(mount);
    }
    const auto listed = DMGMounter::attachedDiskImages(factory);
    for (const std::string& image : {odd, plain}) {
        EXPECT_TRUE(listed.contains(image)) << image;
        const auto found = DMGMounter::checkIfAttached(URL::fileURL(image), factory);
        ASSERT_TRUE(found) << image;
        EXPECT_TRUE(found->partitions().front().isMounted()) << image;
    }
    // The service names the mount point after the label, control characters and all.
    EXPECT_NE(mounts[0]->partitions().front().mountPoint()->rawPath().find("ctl\x01\x1b"), std::string::npos)
        << mounts[0]->partitions().front().mountPoint()->rawPath();
    for (const auto& mount : mounts) {
        DMGMounter::detach(mount, false, false, factory);
    }
    for (const std::string& attached : devices) {
        EXPECT_EQ(BlockDevices().backingFile(attached.substr(5)), std::nullopt) << attached;
    }
}

// An image attached by one caller is found by another whichever link names it: a link to the
// file, or the file in a linked folder.
TEST_F(DMGMounterDevicesTest, AnAttachedImageIsFoundThroughLinks) {
    folder.writeFile("content/hello.txt", "hello\n");
    const std::string real = folder.makeDirectory("real");
    const std::string image = folder.writeFile("real/target.img", std::string(16 << 20, '\0'));
    ASSERT_EQ(Process::run("/usr/sbin/mkfs.ext4", {"-q", "-d", folder / "content", image}).terminationStatus, 0);
    images = {image};
    const std::string link = folder / "link-to-target.img";
    const std::string linkedFolder = folder / "linked-folder";
    ASSERT_EQ(::symlink(image.c_str(), link.c_str()), 0);
    ASSERT_EQ(::symlink(real.c_str(), linkedFolder.c_str()), 0);
    auto logger = std::make_shared<testing::RecordingLogger>();
    const LoggerFactory factory = [logger](const std::string&) -> std::shared_ptr<Logger> { return logger; };
    const auto mount = DMGMounter::attach(URL::fileURL(image), std::nullopt, false, factory);
    ASSERT_EQ(mount->partitions().size(), 1u);
    ASSERT_TRUE(mount->partitions().front().devEntry());
    device = *mount->partitions().front().devEntry();

    for (const std::string& given : {link, linkedFolder + "/target.img"}) {
        const auto found = DMGMounter::checkIfAttached(URL::fileURL(given), factory);
        ASSERT_TRUE(found) << given;
        EXPECT_EQ(found->partitions().front().devEntry(), device) << given;
        try {
            DMGMounter::attach(URL::fileURL(given), std::nullopt, false, factory);
            ADD_FAILURE() << given << " was attached anew";
        } catch (const DMGMounterError& error) {
            EXPECT_EQ(error.kind(), DMGMounterError::Case::alreadyMounted) << given;
        }
    }
    EXPECT_EQ(Process::run("/usr/sbin/losetup", {"-n", "-O", "NAME", "-j", image}).standardOutput, device + "\n");
    DMGMounter::detach(mount, false, false, factory);
    EXPECT_EQ(BlockDevices().backingFile(device.substr(5)), std::nullopt);
}

TEST_F(DMGMounterDevicesTest, AnImageOfAnyNameAttachesReadOnlyAndGoesWhenReleased) {
    folder.writeFile("content/hello.txt", "hello\n");
    const std::string image = folder.writeFile("data", std::string(16 << 20, '\0'));
    ASSERT_EQ(Process::run("/usr/sbin/mkfs.ext4", {"-q", "-d", folder / "content", image}).terminationStatus, 0);
    const std::string temporary = folder.makeDirectory("tmp");
    testing::ScopedEnvironment temporaryDirectory({{"TMPDIR", temporary}});
    auto clock = std::make_shared<ManualTimerService>();
    ScopedTimerService scope{clock};
    DMGUnmounter::resetShared();

    auto logger = std::make_shared<testing::RecordingLogger>();
    const LoggerFactory factory = [logger](const std::string&) -> std::shared_ptr<Logger> { return logger; };
    auto mount = DMGMounter::attach(URL::fileURL(image), std::nullopt, true, factory);
    ASSERT_EQ(mount->partitions().size(), 1u);
    const DMGPartition partition = mount->partitions().front();
    ASSERT_TRUE(partition.mountPoint() && partition.devEntry());
    device = *partition.devEntry();
    ASSERT_TRUE(mount->symlinkDiskImageURL());
    const URL link = *mount->symlinkDiskImageURL();
    EXPECT_EQ(link.lastPathComponent(), "data.dmg");
    EXPECT_EQ(link.deletingLastPathComponent().deletingLastPathComponent().path(), temporary);

    std::ifstream hello(partition.mountPoint()->path() + "/hello.txt");
    std::string text;
    EXPECT_TRUE(std::getline(hello, text));
    EXPECT_EQ(text, "hello");
    hello.close();
    const int written = ::open((partition.mountPoint()->path() + "/new.txt").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    const int error = errno;
    if (written >= 0) {
        ::close(written);
        ADD_FAILURE() << "the volume is writable";
    } else {
        EXPECT_EQ(error, EROFS);
    }

    mount.reset();
    DMGUnmounter::shared()->detachQueue().sync([] {});
    EXPECT_EQ(BlockDevices().backingFile(device.substr(5)), std::nullopt) << "the image is still attached";
    EXPECT_FALSE(partition.isMounted());
    EXPECT_FALSE(testing::exists(link.path()));
    EXPECT_TRUE(std::filesystem::is_empty(temporary)) << "the link's folder stays";
    DMGUnmounter::resetShared();
}

} // namespace
} // namespace velmor
