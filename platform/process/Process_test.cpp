#include "platform/process/Process.hpp"

#include "platform/error/Error.hpp"

#include <gtest/gtest.h>

namespace velmor {

TEST(Process, CollectsStandardOutputAndStatus) {
    auto result = Process::run("/bin/sh", {"-c", "printf 'one\\ntwo'; exit 3"});
    EXPECT_EQ(result.standardOutput, "one\ntwo");
    EXPECT_EQ(result.terminationStatus, 3);

    // Larger than a pipe's buffer: the reader must drain while the tool writes.
    auto large = Process::run("/bin/sh", {"-c", "head -c 300000 /dev/zero"});
    EXPECT_EQ(large.standardOutput.size(), 300000u);
}

TEST(Process, AMissingToolIsALaunchError) {
    try {
        Process::run("/nonexistent/tool", {"-s", "/"});
        FAIL() << "no error";
    } catch (const ErrorException& thrown) {
        EXPECT_EQ(thrown.error().domain(), Error::cocoaDomain);
        EXPECT_EQ(thrown.error().code(), 4);
        ASSERT_TRUE(thrown.error().underlyingError());
        EXPECT_EQ(thrown.error().underlyingError()->code(), ENOENT);
    }
}

} // namespace velmor
