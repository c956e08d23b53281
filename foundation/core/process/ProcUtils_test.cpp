#include "foundation/core/process/ProcUtils.hpp"

#include "platform/testing/PrivilegeDrop.hpp"
#include "platform/testing/TemporaryDirectory.hpp"

#include <algorithm>
#include <cctype>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace velmor {

namespace {

bool contains(const std::vector<std::int32_t>& pids, std::int32_t pid) {
    return std::find(pids.begin(), pids.end(), pid) != pids.end();
}

template <typename Call> void expectNotRunning(Call call) {
    try {
        call();
        FAIL() << "no error";
    } catch (const TypedError<ProcUtils::Error>& thrown) {
        EXPECT_EQ(thrown.value(), ProcUtils::Error::processNotRunning);
    }
}

// A sleeping program started from `path`, stopped and reaped when the scope ends.
class SleepingChild {
public:
    explicit SleepingChild(const std::string& path) {
        std::vector<char*> argv{const_cast<char*>(path.c_str()), const_cast<char*>("30"), nullptr};
        if (::posix_spawn(&pid_, path.c_str(), nullptr, nullptr, argv.data(), environ) != 0) {
            pid_ = 0;
        }
    }
    ~SleepingChild() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    pid_t pid() const { return pid_; }

private:
    pid_t pid_ = 0;
};

// No process has an id at or above the kernel's limit.
std::int32_t missingPid() {
    std::ifstream limit("/proc/sys/kernel/pid_max");
    std::int32_t value = 0;
    limit >> value;
    return value > 0 ? value : INT32_MAX;
}

} // namespace

TEST(ProcUtils, ListsTheCallerAmongRunningProcesses) {
    auto pids = ProcUtils::runningPids();
    EXPECT_TRUE(contains(pids, ::getpid()));
    EXPECT_TRUE(contains(pids, 1));
    EXPECT_EQ(ProcUtils::userId(::getpid()), ::geteuid());
}

TEST(ProcUtils, FindsAProgramByItsPathEvenAfterItIsReplaced) {
    testing::TemporaryDirectory folder;
    std::string program = folder / "Napping Tool";
    std::filesystem::copy_file("/bin/sleep", program);
    std::filesystem::permissions(program, std::filesystem::perms::owner_all);
    SleepingChild child(program);
    ASSERT_GT(child.pid(), 0);
    // Until the kernel has executed the copy, the child still runs this test's own executable.
    for (int attempt = 0; attempt < 10000 && ProcUtils::path(child.pid()) != program; ++attempt) {
        ::usleep(1000);
    }

    EXPECT_EQ(ProcUtils::path(child.pid()), program);
    EXPECT_TRUE(contains(ProcUtils::runningPidsMatchingPath(program), child.pid()));
    EXPECT_TRUE(contains(ProcUtils::runningPidsContainingPath("/Napping Tool"), child.pid()));
    std::string otherCase = program;
    std::transform(otherCase.begin(), otherCase.end(), otherCase.begin(), ::toupper);
    EXPECT_FALSE(contains(ProcUtils::runningPidsMatchingPath(otherCase), child.pid()));
    EXPECT_FALSE(contains(ProcUtils::runningPidsMatchingPath(program + "x"), child.pid()));

    // An upgrade removes the file under the running program; it still runs from its path.
    std::filesystem::remove(program);
    EXPECT_EQ(ProcUtils::path(child.pid()), program);
    EXPECT_TRUE(contains(ProcUtils::runningPidsMatchingPath(program), child.pid()));
}

TEST(ProcUtils, AMissingProcessIsNotRunning) {
    for (std::int32_t pid : {missingPid(), 0, -1}) {
        SCOPED_TRACE(pid);
        expectNotRunning([&] { ProcUtils::path(pid); });
        expectNotRunning([&] { ProcUtils::userId(pid); });
    }
    // A child that has ended and been reaped is gone.
    pid_t ended = 0;
    {
        SleepingChild child("/bin/sleep");
        ended = child.pid();
    }
    ASSERT_GT(ended, 0);
    expectNotRunning([&] { ProcUtils::userId(ended); });
}

TEST(ProcUtils, ReadsTheEffectiveUserOfAnotherProcess) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "needs root to start a child as another user";
    }
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    pid_t child = ::fork();
    if (child == 0) {
        ::close(ready[0]);
        // Only the effective id changes, so the reading must pick the effective field.
        if (::setresuid(0, testing::unprivilegedUser, 0) != 0) {
            ::_exit(125);
        }
        char byte = 1;
        (void)!::write(ready[1], &byte, 1);
        ::pause();
        ::_exit(0);
    }
    ::close(ready[1]);
    char byte = 0;
    bool dropped = ::read(ready[0], &byte, 1) == 1;
    ::close(ready[0]);
    if (dropped) {
        EXPECT_EQ(ProcUtils::userId(child), testing::unprivilegedUser);
    }
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    EXPECT_TRUE(dropped) << "the child could not change its user";
}

} // namespace velmor
