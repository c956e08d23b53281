#include "foundation/services/diskimage/DiskImageTool.hpp"

#include "platform/fs/URL.hpp"
#include "platform/testing/ChildTestRun.hpp"
#include "platform/testing/PrivilegeDrop.hpp"
#include "platform/testing/ScopedEnvironment.hpp"
#include "platform/testing/TemporaryDirectory.hpp"

#include <filesystem>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/auxv.h>
#include <unistd.h>
#include <vector>

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
    testing::ScopedEnvironment chosen(testing::ScopedEnvironment::Settings{
        {DiskImageTool::environmentVariable, "/opt/tools/fake-diskimage"}});
    EXPECT_EQ(DiskImageTool::path(), "/opt/tools/fake-diskimage");
}

// A set-user-id or set-group-id program must not run a tool its caller's environment names.
TEST(DiskImageToolLocationTest, ASetIdProgramIgnoresTheToolItsEnvironmentNames) {
    if (testing::isChildTestRun()) {
        ASSERT_EQ(::getauxval(AT_SECURE), 1u) << "not started as a set-group-id program";
        EXPECT_NE(DiskImageTool::path(), "/opt/tools/fake-diskimage");
        return;
    }
    if (::geteuid() != 0) {
        GTEST_SKIP() << "needs root, to make a set-group-id copy of this test";
    }
    // A copy of this test that takes another group when started: the system then runs it as a
    // program with privileges of its own.
    testing::TemporaryDirectory folder;
    const std::string copy = folder / "set-group-id-test";
    std::filesystem::copy_file("/proc/self/exe", copy);
    ASSERT_EQ(::chown(copy.c_str(), 0, testing::unprivilegedUser), 0);
    ASSERT_EQ(::chmod(copy.c_str(), 02755), 0);

    const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string filter = std::string("--gtest_filter=") + test->test_suite_name() + "." + test->name();
    std::vector<char*> arguments{const_cast<char*>(copy.c_str()), filter.data(), nullptr};
    std::string marker = std::string(testing::childTestVariable) + "=1";
    std::string chosen = std::string(DiskImageTool::environmentVariable) + "=/opt/tools/fake-diskimage";
    std::vector<char*> environment{marker.data(), chosen.data(), nullptr};
    pid_t child = 0;
    ASSERT_EQ(::posix_spawn(&child, copy.c_str(), nullptr, nullptr, arguments.data(), environment.data()), 0);
    EXPECT_EQ(testing::waitForChildTest(child), 0);
}

} // namespace
} // namespace velmor
