#include "platform/diskimage/UDisksClient.hpp"

#include <gtest/gtest.h>

namespace velmor::diskimage {
namespace {

// The disk service's messages for a set-up that lost its free device to another set-up at once
// are worth a new set-up; every other failure stands.
TEST(UDisksErrorTest, TellsALoopDeviceTakenByAnotherSetUpFromOtherFailures) {
    struct Case {
        std::string message;
        bool taken;
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
    };
    for (const Case& c : cases) {
        EXPECT_EQ(UDisksError("org.freedesktop.UDisks2.Error.Failed", c.message).isLoopDeviceTaken(), c.taken)
            << c.message;
    }
}

} // namespace
} // namespace velmor::diskimage
