#include "foundation/services/diskimage/DiskImageTool.hpp"

#include "platform/fs/URL.hpp"
#include "platform/testing/ScopedEnvironment.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

namespace velmor {
namespace {

TEST(DiskImageToolLocationTest, IsFoundBesideTheLibraryUnlessTheEnvironmentPointsElsewhere) {
    {
        testing::ScopedEnvironment unset(
            testing::ScopedEnvironment::Settings{{DiskImageTool::environmentVariable, std::nullopt}});
        const std::string beside = DiskImageTool::path();
        EXPECT_EQ(URL::fileURL(beside).lastPathComponent(), "velmor-diskimage");
        EXPECT_EQ(::access(beside.c_str(), X_OK), 0) << beside << " is not built beside the library";
    }
    testing::ScopedEnvironment chosen(
        testing::ScopedEnvironment::Settings{{DiskImageTool::environmentVariable, "/opt/tools/fake-diskimage"}});
    EXPECT_EQ(DiskImageTool::path(), "/opt/tools/fake-diskimage");
}

} // namespace
} // namespace velmor
