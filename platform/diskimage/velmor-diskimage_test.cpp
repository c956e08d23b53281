// The disk-image tool against udisks2 on real loop devices. ctest starts the services first (see
// udisks-services.sh) and hands their state folder in VELMOR_UDISKS_STATE.

#include "platform/coding/PropertyList.hpp"
#include "platform/diskimage/BlockDevices.hpp"
#include "platform/fs/MountTable.hpp"
#include "platform/process/Process.hpp"
#include "platform/testing/LocalSocket.hpp"
#include "platform/testing/PrivilegeDrop.hpp"
#include "platform/testing/ReadToEnd.hpp"
#include "platform/testing/ScopedEnvironment.hpp"
#include "platform/testing/TemporaryDirectory.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <future>
#include <linux/loop.h>
#include <random>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

namespace velmor::diskimage {
namespace {

using coding::Array;
using coding::Object;
using coding::Value;

using testing::readToEnd;

struct ToolRun {
    int status = -1;
    std::string out;
    std::string err;
};

ToolRun runTool(const std::vector<std::string>& arguments, const std::string& input = "",
                const std::string& executable = VELMOR_DISKIMAGE_TOOL_PATH) {
    auto process = Process::make();
    process->executablePath = executable;
    process->arguments = arguments;
    auto in = Pipe::make();
    auto out = Pipe::make();
    auto err = Pipe::make();
    process->standardInput = in;
    process->standardOutput = out;
    process->standardError = err;
    process->launch();
    auto errors = std::async(std::launch::async, [&] { return readToEnd(err->readDescriptor()); });
    if (!input.empty()) {
        EXPECT_EQ(::write(in->writeDescriptor(), input.data(), input.size()), static_cast<ssize_t>(input.size()));
    }
    in->closeWriteDescriptor();
    ToolRun run;
    run.out = readToEnd(out->readDescriptor());
    run.err = errors.get();
    process->waitUntilExit();
    run.status = process->terminationStatus();
    return run;
}

const Array& entitiesOf(const Value& root) {
    static const Array none;
    const auto* object = root.get<Object>();
    const Value* entities = object ? object->find("system-entities") : nullptr;
    return entities && entities->get<Array>() ? *entities->get<Array>() : none;
}

// The mount in effect at `path`, if any.
std::optional<MountEntry> mountedAt(const std::string& path) {
    const auto table = readMountTable();
    const MountEntry* mount = mountAt(table, path);
    return mount ? std::optional<MountEntry>(*mount) : std::nullopt;
}

std::string stringAt(const Value& entity, const std::string& key) {
    const auto* object = entity.get<Object>();
    const Value* value = object ? object->find(key) : nullptr;
    return value && value->get<std::string>() ? *value->get<std::string>() : "";
}

class DiskImageToolTest : public ::testing::Test {
protected:
    void SetUp() override {
        const char* state = std::getenv("VELMOR_UDISKS_STATE");
        if (state == nullptr) {
            GTEST_SKIP() << "run through ctest, whose fixture starts udisks2 on a private bus";
        }
        std::ifstream skip(std::string(state) + "/skip");
        std::string reason;
        if (skip && std::getline(skip, reason)) {
            GTEST_SKIP() << reason;
        }
        std::ifstream addressFile(std::string(state) + "/address");
        std::string address;
        ASSERT_TRUE(std::getline(addressFile, address)) << "the fixture left no bus address in " << state;
        environment.emplace(testing::ScopedEnvironment::Settings{{"DBUS_SYSTEM_BUS_ADDRESS", address}});
        busAddress = address;
    }

    void TearDown() override {
        for (int descriptor : openFiles) {
            ::close(descriptor);
        }
        // Whatever a failed test left attached goes, mounts first.
        const BlockDevices devices;
        for (const auto& image : images) {
            for (const auto& device : devicesBacking(image)) {
                for (const auto& mount : readMountTable()) {
                    if (devices.wholeDiskName(mount.source) == device.substr(5)) {
                        ::umount2(mount.mountPoint.c_str(), MNT_DETACH);
                    }
                }
                Process::run("/usr/sbin/losetup", {"-d", device});
            }
        }
    }

    // The loop devices the kernel has attached to `path`.
    static std::vector<std::string> devicesBacking(const std::string& path) {
        std::vector<std::string> devices;
        const auto listing = Process::run("/usr/sbin/losetup", {"-n", "-O", "NAME", "-j", path}).standardOutput;
        std::istringstream lines(listing);
        for (std::string line; std::getline(lines, line);) {
            if (!line.empty()) {
                devices.push_back(line);
            }
        }
        return devices;
    }

    // An ext4 image labelled `label` holding hello.txt.
    std::string ext4Image(const std::string& name, const std::string& label = "My Data") {
        folder.writeFile("content/hello.txt", "hello from the image\n");
        const std::string path = folder.writeFile(name, std::string(16 << 20, '\0'));
        images.push_back(path);
        const auto made = Process::run("/usr/sbin/mkfs.ext4", {"-q", "-L", label, "-d", folder / "content", path});
        EXPECT_EQ(made.terminationStatus, 0);
        return path;
    }

    static std::vector<std::string> attachArguments(const std::string& path) {
        return {"attach", "-plist", "-noverify", "-noautoopen", "-noautofsck", "-owners", "off", "-nobrowse",
                "-readonly", "-mountrandom", "/private/tmp/", "-stdinpass", path};
    }

    // Attaches and returns the one entity of an ext4 image.
    Value attachExt4(const std::string& path) {
        const auto run = runTool(attachArguments(path), std::string("secret\0\n\nY\n", 11));
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(run.out.rfind("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE plist", 0), 0u) << run.out;
        const Array entities = entitiesOf(coding::fromPropertyList(run.out));
        EXPECT_EQ(entities.size(), 1u) << run.out;
        return entities.empty() ? Value() : entities.front();
    }

    // An attached ext4 image with a file on its volume held open, so that the volume is in use.
    struct HeldVolume {
        std::string device;
        std::string mountPoint;
        // -1 when the file could not be opened, which fails the test.
        int held = -1;
    };
    HeldVolume attachHoldingAFile(const std::string& path) {
        const Value entity = attachExt4(path);
        HeldVolume volume{stringAt(entity, "dev-entry"), stringAt(entity, "mount-point")};
        volume.held = ::open((volume.mountPoint + "/hello.txt").c_str(), O_RDONLY | O_CLOEXEC);
        if (volume.held >= 0) {
            openFiles.push_back(volume.held);
        }
        return volume;
    }

    // A socket bound at `path` (listening with room for `backlog` waiting connections, or not
    // listening when `backlog` is below 0), closed with the test; -1 when it cannot be made.
    int boundSocket(const std::string& path, int backlog = -1) {
        const int socket = testing::boundLocalSocket(path, backlog);
        if (socket >= 0) {
            openFiles.push_back(socket);
        }
        return socket;
    }

    // The exit status of a tool run that `runOverControlSocket` stopped.
    static constexpr int timedOut = 124;

    // Runs the tool with `arguments` where the socket at `socketPath` lies over the device manager's
    // control socket, in a mount namespace of the tool's own so that the machine's device manager
    // stays as it is for everyone else; the tool is stopped after 30 s. Nothing when the socket
    // cannot be laid there.
    static std::optional<ToolRun> runOverControlSocket(const std::string& socketPath,
                                                       const std::vector<std::string>& toolArguments) {
        std::vector<std::string> arguments{"-m", "--propagation", "private", "/bin/sh", "-c",
                                           "mount -t tmpfs tmpfs /run/udev && : > /run/udev/control && "
                                           "mount --bind \"$0\" /run/udev/control && exec /usr/bin/timeout 30 \"$@\"",
                                           socketPath, VELMOR_DISKIMAGE_TOOL_PATH};
        arguments.insert(arguments.end(), toolArguments.begin(), toolArguments.end());
        auto run = runTool(arguments, "", "/usr/bin/unshare");
        if (run.err.find("unshare:") != std::string::npos || run.err.find("mount:") != std::string::npos) {
            return std::nullopt;
        }
        return run;
    }

    std::optional<testing::ScopedEnvironment> environment;
    std::string busAddress;
    testing::TemporaryDirectory folder;
    std::vector<std::string> images;
    std::vector<int> openFiles;
};

TEST_F(DiskImageToolTest, AttachesAnImageLabelledWithABlankAndListsIt) {
    const std::string path = ext4Image("data.img");
    const Value entity = attachExt4(path);
    const std::string device = stringAt(entity, "dev-entry");
    const std::string mountPoint = stringAt(entity, "mount-point");
    EXPECT_EQ(device.rfind("/dev/loop", 0), 0u);
    EXPECT_EQ(entity.get<Object>()->find("potentially-mountable")->get<bool>() != nullptr &&
                  *entity.get<Object>()->find("potentially-mountable")->get<bool>(),
              true);
    // The service numbers the folder when one of that name is taken.
    EXPECT_EQ(URL::fileURL(mountPoint).lastPathComponent().rfind("My Data", 0), 0u) << mountPoint;
    std::ifstream hello(mountPoint + "/hello.txt");
    std::string line;
    EXPECT_TRUE(std::getline(hello, line));
    EXPECT_EQ(line, "hello from the image");
    const auto mount = mountedAt(mountPoint);
    ASSERT_TRUE(mount.has_value()) << "the mount table shows no " << mountPoint;
    EXPECT_EQ(mount->source, device);

    const auto info = runTool({"info", "-plist"});
    ASSERT_EQ(info.status, 0) << info.err;
    const Value root = coding::fromPropertyList(info.out);
    const Value* list = root.get<Object>() ? root.get<Object>()->find("images") : nullptr;
    ASSERT_TRUE(list && list->get<Array>()) << info.out;
    bool listed = false;
    for (const Value& image : *list->get<Array>()) {
        if (stringAt(image, "image-path") == path) {
            listed = true;
            const Array entities = entitiesOf(image);
            ASSERT_EQ(entities.size(), 1u);
            EXPECT_EQ(stringAt(entities.front(), "dev-entry"), device);
            EXPECT_EQ(stringAt(entities.front(), "mount-point"), mountPoint);
        }
    }
    EXPECT_TRUE(listed) << info.out;
}

TEST_F(DiskImageToolTest, UnmountsByMountPointThenDetachesByDevice) {
    const std::string path = ext4Image("data.img");
    const Value entity = attachExt4(path);
    const std::string device = stringAt(entity, "dev-entry");
    const std::string mountPoint = stringAt(entity, "mount-point");
    ASSERT_FALSE(device.empty());

    const auto unmounted = runTool({"unmount", mountPoint});
    EXPECT_EQ(unmounted.status, 0) << unmounted.err;
    EXPECT_FALSE(mountedAt(mountPoint).has_value());
    EXPECT_EQ(devicesBacking(path), std::vector<std::string>{device}) << "unmount leaves the image attached";

    const auto detached = runTool({"detach", device});
    EXPECT_EQ(detached.status, 0) << detached.err;
    EXPECT_TRUE(devicesBacking(path).empty());
    EXPECT_EQ(BlockDevices().backingFile(device.substr(5)), std::nullopt);
}

TEST_F(DiskImageToolTest, DetachOfABusyVolumeExits16AndStaysAttached) {
    const std::string path = ext4Image("data.img");
    const auto [device, mountPoint, busy] = attachHoldingAFile(path);
    ASSERT_GE(busy, 0);

    const auto refused = runTool({"detach", device.substr(5)});
    EXPECT_EQ(refused.status, 16) << refused.err;
    EXPECT_TRUE(refused.out.empty());
    EXPECT_NE(refused.err.find(device), std::string::npos) << refused.err;
    EXPECT_EQ(devicesBacking(path), std::vector<std::string>{device});
    EXPECT_TRUE(mountedAt(mountPoint).has_value());

    ::close(busy);
    openFiles.clear();
    const auto detached = runTool({"detach", mountPoint});
    EXPECT_EQ(detached.status, 0) << detached.err;
    EXPECT_TRUE(devicesBacking(path).empty());
}

TEST_F(DiskImageToolTest, DetachReturnsOnlyOnceTheKernelHasFreedADeviceHeldOpenElsewhere) {
    const std::string path = ext4Image("data.img");
    const std::string device = stringAt(attachExt4(path), "dev-entry");
    ASSERT_EQ(device.rfind("/dev/loop", 0), 0u);
    const std::string name = device.substr(5);
    // Another opener of the device (a prober, say) defers the kernel's release to its last close.
    const int holder = ::open(device.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(holder, 0);
    openFiles.push_back(holder);

    auto detached = std::async(std::launch::async, [&] { return runTool({"detach", device}); });
    std::string autoclear;
    for (int tries = 0; tries < 1000 && autoclear != "1"; ++tries) {
        std::ifstream(std::string("/sys/class/block/") + name + "/loop/autoclear") >> autoclear;
        if (autoclear != "1") {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    ASSERT_EQ(autoclear, "1") << "the release was not deferred";
    EXPECT_EQ(detached.wait_for(std::chrono::milliseconds(100)), std::future_status::timeout)
        << "detach returned while the device was still attached";

    ::close(holder);
    openFiles.clear();
    const auto run = detached.get();
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(BlockDevices().backingFile(name), std::nullopt);
}

// The kernel frees a device marked to go at its last close on its own; the disk service may still
// list it for a while. Nothing is left to detach then, which is no failure.
TEST_F(DiskImageToolTest, ADetachOfADeviceFreedBeforeTheDiskServiceSawItSucceeds) {
    const std::string path = ext4Image("data.img");
    const std::string device = stringAt(attachExt4(path), "dev-entry");
    ASSERT_EQ(device.rfind("/dev/loop", 0), 0u);
    ASSERT_EQ(runTool({"unmount", device}).status, 0);

    // The service hears of the release through the device manager: while its queue is held, the
    // service keeps listing the device as attached.
    struct HeldEventQueue {
        bool held = Process::run("/usr/bin/udevadm", {"control", "--timeout=5", "--stop-exec-queue"})
                        .terminationStatus == 0;
        ~HeldEventQueue() {
            if (held) {
                Process::run("/usr/bin/udevadm", {"control", "--timeout=5", "--start-exec-queue"});
            }
        }
    } queue;
    if (!queue.held) {
        GTEST_SKIP() << "cannot hold the device manager's event queue here";
    }
    {
        const int freed = ::open(device.c_str(), O_RDONLY | O_CLOEXEC);
        ASSERT_GE(freed, 0);
        EXPECT_EQ(::ioctl(freed, LOOP_CLR_FD, 0), 0) << std::strerror(errno);
        ::close(freed);
    }
    ASSERT_EQ(BlockDevices().backingFile(device.substr(5)), std::nullopt);

    const auto run = runTool({"detach", device});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(run.err.empty()) << run.err;
}

TEST_F(DiskImageToolTest, AForcedDetachOfAVolumeStillInUseExitsWithEBUSY) {
    const std::string path = ext4Image("data.img");
    const auto [device, mountPoint, held] = attachHoldingAFile(path);
    ASSERT_GE(held, 0);

    // The forced unmount lets go of the mount point, but the file system and its device stay in use.
    const auto run = runTool({"detach", mountPoint, "-force"});
    EXPECT_EQ(run.status, EBUSY) << run.err;
    EXPECT_TRUE(run.out.empty()) << run.out;
    EXPECT_NE(run.err.find(device + ": still in use"), std::string::npos) << run.err;
    EXPECT_EQ(devicesBacking(path), std::vector<std::string>{device});
}

TEST_F(DiskImageToolTest, AFifoNamedLikeAnImageIsRefusedAtOnce) {
    const std::string path = folder / "fifo.img";
    ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
    auto attached = std::async(std::launch::async, [&] { return runTool(attachArguments(path)); });
    if (attached.wait_for(std::chrono::seconds(20)) != std::future_status::ready) {
        // A writer lets a tool that waits in its open go on.
        const int writer = ::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        ADD_FAILURE() << "the attach waited on the FIFO";
        if (writer >= 0) {
            ::close(writer);
        }
    }
    const auto run = attached.get();
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(run.out.empty()) << run.out;
    EXPECT_NE(run.err.find(path + ": not a disk image file"), std::string::npos) << run.err;
}

TEST_F(DiskImageToolTest, AnAttachWithoutADeviceManagerFailsAtOnceAndLeavesNothingAttached) {
    const std::string path = ext4Image("data.img");
    // The tool runs where the device manager's control socket is missing: in a mount namespace of
    // its own with an empty /run/udev, so the machine's device manager stays up for everyone else.
    std::vector<std::string> arguments{"-m", "--propagation", "private", "/bin/sh", "-c",
                                       "mount -t tmpfs tmpfs /run/udev && exec \"$0\" \"$@\"",
                                       VELMOR_DISKIMAGE_TOOL_PATH};
    const auto attach = attachArguments(path);
    arguments.insert(arguments.end(), attach.begin(), attach.end());
    const auto run = runTool(arguments, "", "/usr/bin/unshare");
    if (run.err.find("unshare:") != std::string::npos || run.err.find("mount:") != std::string::npos) {
        GTEST_SKIP() << "cannot hide the device manager from the tool here: " << run.err;
    }
    EXPECT_EQ(run.status, 1) << run.out;
    EXPECT_TRUE(run.out.empty()) << run.out;
    EXPECT_NE(run.err.find(path + ": no device manager runs"), std::string::npos) << run.err;
    EXPECT_TRUE(devicesBacking(path).empty());
}

// The device manager stopped and left its control socket behind: nothing answers there.
TEST_F(DiskImageToolTest, AnAttachWhereNothingAnswersAtTheDeviceManagersSocketFailsAtOnce) {
    const std::string path = ext4Image("data.img");
    const std::string socketPath = folder / "control";
    // Bound but never listening.
    ASSERT_GE(boundSocket(socketPath), 0);
    const auto started = std::chrono::steady_clock::now();
    const auto run = runOverControlSocket(socketPath, attachArguments(path));
    if (!run) {
        GTEST_SKIP() << "cannot lay a dead socket over the device manager's here";
    }
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(15)) << "the attach waited";
    EXPECT_EQ(run->status, 1) << run->out;
    EXPECT_TRUE(run->out.empty()) << run->out;
    EXPECT_NE(run->err.find(path + ": no device manager runs"), std::string::npos) << run->err;
    EXPECT_TRUE(devicesBacking(path).empty());
}

// A device manager that takes no new connection for now (stopped a moment, or busy) is not waited
// for: it runs, so the attach goes on.
TEST_F(DiskImageToolTest, AnAttachDoesNotWaitForADeviceManagerThatTakesNoConnection) {
    const std::string path = ext4Image("data.img");
    const std::string socketPath = folder / "control";
    // Listening but never accepting, its queue full with one connection.
    ASSERT_GE(boundSocket(socketPath, 0), 0);
    const int waiting = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    ASSERT_GE(waiting, 0);
    openFiles.push_back(waiting);
    ::sockaddr_un address{};
    ASSERT_TRUE(testing::localSocketAddress(socketPath, address));
    ASSERT_EQ(::connect(waiting, reinterpret_cast<const ::sockaddr*>(&address), sizeof address), 0);
    const int another = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    ASSERT_GE(another, 0);
    openFiles.push_back(another);
    ASSERT_EQ(::connect(another, reinterpret_cast<const ::sockaddr*>(&address), sizeof address), -1);
    ASSERT_EQ(errno, EAGAIN) << "the queue of the socket is not full";

    const auto run = runOverControlSocket(socketPath, attachArguments(path));
    if (!run) {
        GTEST_SKIP() << "cannot lay a socket over the device manager's here";
    }
    EXPECT_NE(run->status, timedOut) << "the attach waited for the device manager";
    EXPECT_EQ(run->status, 0) << run->err;
    EXPECT_EQ(devicesBacking(path).size(), 1u);
}

// A set-user-id copy run by another user must not act with its owner's rights.
TEST_F(DiskImageToolTest, ASetUserIdCopyRunByAnotherUserDoesNothing) {
    struct ::statvfs fileSystem {};
    ASSERT_EQ(::statvfs(folder.path().c_str(), &fileSystem), 0);
    if ((fileSystem.f_flag & ST_NOSUID) != 0) {
        GTEST_SKIP() << folder.path() << " is on a file system mounted nosuid";
    }
    // Root's image in a folder only root may enter.
    const std::string path = ext4Image("private/data.img");
    ASSERT_EQ(::chmod(path.c_str(), 0600), 0);
    ASSERT_EQ(::chmod((folder / "private").c_str(), 0700), 0);
    const std::string tool = folder / "bin/velmor-diskimage";
    std::filesystem::create_directories(folder / "bin");
    std::filesystem::copy_file(VELMOR_DISKIMAGE_TOOL_PATH, tool);
    ASSERT_EQ(::chown(tool.c_str(), 0, 0), 0);
    ASSERT_EQ(::chmod(tool.c_str(), 04755), 0);
    ASSERT_EQ(::chmod((folder / "bin").c_str(), 0755), 0);
    ASSERT_EQ(::chmod(folder.path().c_str(), 0755), 0);
    const std::string output = folder.writeFile("output.txt");
    ASSERT_EQ(::chmod(output.c_str(), 0666), 0);

    // A set-user-id process takes no bus address from its environment: in a mount namespace of its
    // own, the private bus stands where the system bus would.
    const std::string prefix = "unix:path=";
    ASSERT_EQ(busAddress.rfind(prefix, 0), 0u) << busAddress;
    const std::string busSocket = busAddress.substr(prefix.size(), busAddress.find(',') - prefix.size());
    const std::string systemBus = "/run/dbus/system_bus_socket";
    const auto runAsNobody = [&](std::vector<std::string> arguments) {
        return testing::runInChildProcess([&] {
            if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
                ::mount("tmpfs", "/run/dbus", "tmpfs", 0, nullptr) != 0) {
                return 124;
            }
            const int stand = ::open(systemBus.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
            if (stand < 0 || ::close(stand) != 0 || ::mount(busSocket.c_str(), systemBus.c_str(), nullptr, MS_BIND, nullptr) != 0) {
                return 124;
            }
            const uid_t nobody = testing::unprivilegedUser;
            if (::setgroups(0, nullptr) != 0 || ::setresgid(nobody, nobody, nobody) != 0 ||
                ::setresuid(nobody, nobody, nobody) != 0) {
                return 125;
            }
            const int out = ::open(output.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
            if (out < 0 || ::dup2(out, STDOUT_FILENO) < 0 || ::dup2(out, STDERR_FILENO) < 0) {
                return 126;
            }
            std::vector<char*> argv{const_cast<char*>(tool.c_str())};
            for (auto& argument : arguments) {
                argv.push_back(argument.data());
            }
            argv.push_back(nullptr);
            ::execv(tool.c_str(), argv.data());
            return 127;
        });
    };
    const auto outputText = [&] {
        std::ifstream in(output);
        return std::string(std::istreambuf_iterator<char>(in), {});
    };

    const int attached = runAsNobody(attachArguments(path));
    if (attached == 124 || attached == 125) {
        GTEST_SKIP() << "cannot run the copy as another user in a mount namespace of its own here";
    }
    EXPECT_EQ(attached, 1) << outputText();
    EXPECT_NE(outputText().find("velmor-diskimage: refusing to run set-user-id"), std::string::npos)
        << outputText();
    EXPECT_TRUE(devicesBacking(path).empty()) << "another user's image was attached";

    const std::string device = stringAt(attachExt4(path), "dev-entry");
    ASSERT_FALSE(device.empty());
    const int detached = runAsNobody({"detach", device});
    EXPECT_EQ(detached, 1) << outputText();
    EXPECT_EQ(devicesBacking(path), std::vector<std::string>{device}) << "another user's image was detached";
}

// A device freed by a forced detach stays until its last user closes it; it is no attachment to
// hand out again.
TEST_F(DiskImageToolTest, AnAttachAfterAForcedDetachOfAHeldVolumeSetsUpAFreshDevice) {
    const std::string path = ext4Image("data.img");
    const auto [device, mountPoint, held] = attachHoldingAFile(path);
    ASSERT_GE(held, 0);
    ASSERT_EQ(runTool({"detach", mountPoint, "-force"}).status, EBUSY);

    const std::string again = stringAt(attachExt4(path), "dev-entry");
    EXPECT_NE(again, device) << "the device waiting to be freed was handed out";
    ASSERT_FALSE(again.empty());
    ::close(held);
    openFiles.clear();
    // The held device goes with its last user; the fresh one stays attached until detached.
    const BlockDevices devices;
    for (int tries = 0; tries < 1000 && devices.backingFile(device.substr(5)); ++tries) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_EQ(devicesBacking(path), std::vector<std::string>{again});
    const auto detached = runTool({"detach", again});
    EXPECT_EQ(detached.status, 0) << detached.err;
    EXPECT_TRUE(devicesBacking(path).empty());
}

// A path XML cannot hold, the image's own or its volume's mount point named after an odd label,
// leaves the output readable, every other image in the listing.
TEST_F(DiskImageToolTest, ListsEveryImageWhateverBytesOneImagePathHolds) {
    const std::string odd = ext4Image("bad\xff\xfe\x01\x1bname.img", "ctl\x01\x1b");
    const std::string plain = ext4Image("data.img");
    const auto readPath = [](const std::string& text) {
        return text.rfind("file://", 0) == 0 ? URL::fromAbsoluteString(text).rawPath() : text;
    };
    const std::string oddMountPoint = readPath(stringAt(attachExt4(odd), "mount-point"));
    ASSERT_TRUE(mountedAt(oddMountPoint).has_value()) << "the mount table shows no " << oddMountPoint;
    attachExt4(plain);
    const auto info = runTool({"info", "-plist"});
    ASSERT_EQ(info.status, 0) << info.err;
    Value root;
    ASSERT_NO_THROW(root = coding::fromPropertyList(info.out)) << info.out;
    const Value* list = root.get<Object>() ? root.get<Object>()->find("images") : nullptr;
    ASSERT_TRUE(list && list->get<Array>()) << info.out;
    std::vector<std::string> paths;
    for (const Value& image : *list->get<Array>()) {
        paths.push_back(readPath(stringAt(image, "image-path")));
        if (paths.back() == odd) {
            ASSERT_EQ(entitiesOf(image).size(), 1u) << info.out;
            EXPECT_EQ(readPath(stringAt(entitiesOf(image).front(), "mount-point")), oddMountPoint) << info.out;
        }
    }
    EXPECT_NE(std::find(paths.begin(), paths.end(), odd), paths.end()) << info.out;
    EXPECT_NE(std::find(paths.begin(), paths.end(), plain), paths.end()) << info.out;
}

// The disk service may fail to associate a loop device taken at once by another set-up, or to make
// a mount point whose name, after the one label, another mount took at once.
TEST_F(DiskImageToolTest, EightDifferentImagesAttachedAtOnceAllSucceed) {
    std::vector<std::string> paths;
    for (int index = 0; index < 8; ++index) {
        paths.push_back(ext4Image("image" + std::to_string(index) + ".img"));
    }
    std::vector<std::future<ToolRun>> runs;
    for (const std::string& path : paths) {
        runs.push_back(std::async(std::launch::async, [&, path] { return runTool(attachArguments(path)); }));
    }
    for (std::size_t index = 0; index < runs.size(); ++index) {
        const ToolRun run = runs[index].get();
        EXPECT_EQ(run.status, 0) << paths[index] << ": " << run.err;
        EXPECT_EQ(devicesBacking(paths[index]).size(), 1u) << paths[index];
    }
}

TEST_F(DiskImageToolTest, TwoAttachesOfOneImageAtOnceShareOneDevice) {
    const std::string path = ext4Image("data.img");
    auto first = std::async(std::launch::async, [&] { return runTool(attachArguments(path)); });
    auto second = std::async(std::launch::async, [&] { return runTool(attachArguments(path)); });
    const ToolRun runs[] = {first.get(), second.get()};
    std::vector<std::string> devices;
    for (const ToolRun& run : runs) {
        EXPECT_EQ(run.status, 0) << run.err;
        const Array entities = entitiesOf(coding::fromPropertyList(run.out));
        ASSERT_EQ(entities.size(), 1u) << run.out;
        devices.push_back(stringAt(entities.front(), "dev-entry"));
    }
    EXPECT_EQ(devices[0], devices[1]);
    EXPECT_EQ(devicesBacking(path).size(), 1u);
}

TEST_F(DiskImageToolTest, AttachingOneFileTwiceGivesOneDeviceAndMountsWhatWasUnmounted) {
    const std::string path = ext4Image("data.img");
    const Value first = attachExt4(path);
    const std::string device = stringAt(first, "dev-entry");
    ASSERT_EQ(runTool({"unmount", device}).status, 0);

    // Through a link: the same file by device and inode.
    const std::string link = folder / "link.img";
    ASSERT_EQ(::symlink(path.c_str(), link.c_str()), 0);
    const Value second = attachExt4(link);
    EXPECT_EQ(stringAt(second, "dev-entry"), device);
    EXPECT_FALSE(stringAt(second, "mount-point").empty()) << "the second attach mounts the volume again";
    EXPECT_EQ(devicesBacking(path).size(), 1u);
}

TEST_F(DiskImageToolTest, AttachesAPartitionedImageAndMountsItsPartition) {
    const std::string path = folder.writeFile("disk.img", std::string(16 << 20, '\0'));
    images.push_back(path);
    // One partition from 1 MiB on, holding an ext4 file system; the disk itself holds none.
    auto sfdisk = Process::make();
    auto script = Pipe::make();
    sfdisk->executablePath = "/usr/sbin/sfdisk";
    sfdisk->arguments = {"-q", path};
    sfdisk->standardInput = script;
    sfdisk->standardOutput = Process::NullDevice{};
    sfdisk->launch();
    const std::string layout = "start=2048, type=83\n";
    ASSERT_EQ(::write(script->writeDescriptor(), layout.data(), layout.size()), static_cast<ssize_t>(layout.size()));
    script->closeWriteDescriptor();
    sfdisk->waitUntilExit();
    ASSERT_EQ(sfdisk->terminationStatus(), 0);
    ASSERT_EQ(Process::run("/usr/sbin/mkfs.ext4", {"-q", "-L", "Inner", "-E", "offset=1048576", path, "12M"})
                  .terminationStatus,
              0);

    const auto run = runTool({"image", "--plist", "attach", "--readOnly", "--nobrowse", path});
    if (run.err.find("the kernel reads no partitions") != std::string::npos) {
        EXPECT_TRUE(devicesBacking(path).empty());
        GTEST_SKIP() << "this kernel makes no partition devices for loop devices: " << run.err;
    }
    ASSERT_EQ(run.status, 0) << run.err;
    const Array entities = entitiesOf(coding::fromPropertyList(run.out));
    ASSERT_EQ(entities.size(), 2u) << run.out;
    const std::string disk = stringAt(entities[0], "dev-entry");
    EXPECT_EQ(stringAt(entities[1], "dev-entry"), disk + "p1");
    EXPECT_EQ(*entities[0].get<Object>()->find("potentially-mountable"), Value(false));
    EXPECT_EQ(stringAt(entities[0], "mount-point"), "");
    EXPECT_EQ(*entities[1].get<Object>()->find("potentially-mountable"), Value(true));
    EXPECT_EQ(URL::fileURL(stringAt(entities[1], "mount-point")).lastPathComponent().rfind("Inner", 0), 0u);

    const auto ejected = runTool({"eject", stringAt(entities[1], "mount-point")});
    EXPECT_EQ(ejected.status, 0) << ejected.err;
    EXPECT_TRUE(devicesBacking(path).empty());
}

TEST_F(DiskImageToolTest, RefusesRandomBytesAndLeavesNothingAttached) {
    std::string noise(4 << 20, '\0');
    std::mt19937 random(25);
    for (char& byte : noise) {
        byte = static_cast<char>(random());
    }
    const std::string path = folder.writeFile("noise.img", noise);
    images.push_back(path);
    const auto run = runTool({"image", "--plist", "attach", "--readOnly", "--nobrowse", path});
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(run.out.empty()) << run.out;
    EXPECT_NE(run.err.find(path + ": no file system or partition table recognised (compressed, sparse and "
                                  "encrypted images are not supported)"),
              std::string::npos)
        << run.err;
    EXPECT_TRUE(devicesBacking(path).empty());
}

TEST_F(DiskImageToolTest, RefusesTargetsThatAreNoDiskImage) {
    for (const std::string& target : {std::string("/"), std::string("/no/such/mount")}) {
        const auto run = runTool({"detach", target});
        EXPECT_EQ(run.status, 1) << target;
        EXPECT_TRUE(run.out.empty());
        EXPECT_NE(run.err.find(target + ": "), std::string::npos) << run.err;
    }
    const auto missing = runTool(attachArguments(folder / "missing.img"));
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.err.find("No such file or directory"), std::string::npos) << missing.err;
}

} // namespace
} // namespace velmor::diskimage
