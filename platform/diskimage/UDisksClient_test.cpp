#include "platform/diskimage/UDisksClient.hpp"

#include <gtest/gtest.h>

namespace velmor::diskimage {
namespace {

// The disk service's messages for a set-up that lost its free device, or a mount that lost its
// mount point's name, to another caller at once are worth a new call; every other failure stands.
TEST(UDisksErrorTest, TellsWhatAnotherCallerTookFirstFromOtherFailures) {
    struct Case {
        std::string message;
        bool loopDeviceTaken;
        bool mountPointTaken = false;
    };
    const std::string failed = "Error creating loop device: Failed to associate the /dev/loop2 device with the "
                               "file descriptor: ";
    const Case cases[] = {
        {failed + "Device or resource busy", true},
        {failed + "Resource temporarily unavailable", true},
        {failed + "Bad file descriptor", false},
        {"Error creating loop device: Failed to set up a loop device: Device or resource busy", false},
        {"Error deleting '/dev/loop0': Failed to detach the backing file from the /dev/loop0 device: No such "
         "device or address",
         false},
        {"Error creating mount point `/media/root/Data1': File exists", false, true},
        {"Error creating mount point `/media/root/Data1': Permission denied", false, false},
        {"Error mounting /dev/loop3 at /media/root/Data: wrong fs type, bad option, bad superblock", false, false},
    };
    for (const Case& c : cases) {
        const UDisksError error("org.freedesktop.UDisks2.Error.Failed", c.message);
        EXPECT_EQ(error.isLoopDeviceTaken(), c.loopDeviceTaken) << c.message;
        EXPECT_EQ(error.isMountPointTaken(), c.mountPointTaken) << c.message;
    }
}

} // namespace
} // namespace velmor::diskimage
