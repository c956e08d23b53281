#include "platform/diskimage/DeviceManager.hpp"

#include "platform/testing/LocalSocket.hpp"
#include "platform/testing/PrivilegeDrop.hpp"
#include "platform/testing/TemporaryDirectory.hpp"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

namespace velmor::diskimage {
namespace {

// A manager that stopped leaves its socket bound to nothing; whoever may connect is refused there,
// and whoever may not is told by the kernel's table of sockets, where nothing listens at the path.
TEST(DeviceManagerTest, TellsAStoppedManagerFromOneThatRuns) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "needs root to probe as another user too";
    }
    testing::TemporaryDirectory folder;
    ASSERT_EQ(::chmod(folder.path().c_str(), 0755), 0);
    const std::string dead = folder / "dead";
    const std::string live = folder / "live";
    const int deadSocket = testing::boundLocalSocket(dead, -1);
    const int liveSocket = testing::boundLocalSocket(live, 4);
    ASSERT_GE(deadSocket, 0);
    ASSERT_GE(liveSocket, 0);
    // As a manager's socket is: only its owner may connect.
    ASSERT_EQ(::chmod(dead.c_str(), 0755), 0);
    ASSERT_EQ(::chmod(live.c_str(), 0755), 0);
    const std::string missing = folder / "missing";

    struct Case {
        std::string socket;
        bool asAnotherUser;
        std::string table;
        std::optional<std::string> absence;
    };
    const std::string kernelTable = "/proc/net/unix";
    const Case cases[] = {
        {missing, false, kernelTable, missing + " is missing"},
        {dead, false, kernelTable, "nothing answers at " + dead},
        {live, false, kernelTable, std::nullopt},
        {dead, true, kernelTable, "nothing listens at " + dead},
        {live, true, kernelTable, std::nullopt},
        // Without the table there is no telling: the manager is taken to run.
        {dead, true, folder / "no-table", std::nullopt},
    };
    for (const Case& c : cases) {
        const std::string trace = c.socket + (c.asAnotherUser ? " as another user" : "") + " with " + c.table;
        if (!c.asAnotherUser) {
            EXPECT_EQ(deviceManagerAbsence(c.socket, c.table), c.absence) << trace;
            continue;
        }
        // 0: as expected, 1: otherwise.
        const int outcome = testing::runAsUnprivilegedUser(
            [&] { return deviceManagerAbsence(c.socket, c.table) == c.absence ? 0 : 1; });
        ASSERT_NE(outcome, 125) << "cannot run as another user here";
        EXPECT_EQ(outcome, 0) << trace;
    }
    ::close(deadSocket);
    ::close(liveSocket);
}

} // namespace
} // namespace velmor::diskimage
