#include "platform/network/NetlinkPathMonitor.hpp"

#include "platform/dispatch/IOReactor.hpp"

#include "platform/testing/ChildTestRun.hpp"
#include "platform/testing/PrivateNetworkNamespace.hpp"
#include "platform/testing/PrivilegeDrop.hpp"
#include "platform/testing/Watchdog.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <filesystem>
#include <mutex>

namespace velmor {

namespace {

using Status = NetworkPath::Status;

// The updates a monitor delivered, taken one by one as they come.
class Updates {
public:
    PathMonitor::UpdateHandler handler() {
        return [this](const NetworkPath& path) {
            // Told under the lock, so that a waiter that saw the update may destroy this at once.
            std::lock_guard lock(mutex_);
            paths_.push_back(path.status);
            arrived_.notify_all();
        };
    }
    // The next update; the limit only keeps a broken monitor from hanging the test.
    std::optional<Status> next() {
        std::unique_lock lock(mutex_);
        if (!arrived_.wait_for(lock, std::chrono::seconds(20), [&] { return !paths_.empty(); })) {
            return std::nullopt;
        }
        Status status = paths_.front();
        paths_.pop_front();
        return status;
    }
    std::size_t pending() {
        std::lock_guard lock(mutex_);
        return paths_.size();
    }

private:
    std::mutex mutex_;
    std::condition_variable arrived_;
    std::deque<Status> paths_;
};

// What a monitor started now reports first.
std::optional<Status> currentStatus() {
    SerialQueue queue("com.velmor.test.pathmonitor.once");
    Updates updates;
    NetlinkPathMonitor monitor;
    monitor.setPathUpdateHandler(updates.handler());
    monitor.start(queue);
    auto status = updates.next();
    // The handler may still be on its way out of `updates`.
    monitor.cancel();
    queue.sync([] {});
    return status;
}

} // namespace

TEST(NetlinkPathMonitor, FollowsLinksAndDefaultRoutesInAPrivateNamespace) {
    testing::Watchdog watchdog("the path monitor test", 120);
    std::optional<std::string> cannotLink;
    auto skipped = testing::runInPrivateNetworkNamespace([&] {
        using testing::ip;
        SerialQueue queue("com.velmor.test.pathmonitor");
        Updates updates;
        NetlinkPathMonitor monitor;
        monitor.setPathUpdateHandler(updates.handler());
        monitor.start(queue);
        EXPECT_EQ(updates.next(), Status::unsatisfied) << "delivered once at start";

        // A working link with an address and a route that is not a default one is not enough.
        if (!ip("link add velmor0 type veth peer name velmor1")) {
            cannotLink = "cannot make a virtual Ethernet pair here";
            return;
        }
        ASSERT_TRUE(ip("link set velmor1 up"));
        ASSERT_TRUE(ip("link set velmor0 up"));
        ASSERT_TRUE(ip("link set lo up"));
        ASSERT_TRUE(ip("addr add 10.77.0.1/24 dev velmor0"));
        ASSERT_TRUE(ip("route add 10.78.0.0/16 via 10.77.0.2"));
        EXPECT_EQ(currentStatus(), Status::unsatisfied);

        ASSERT_TRUE(ip("route add default via 10.77.0.2 dev velmor0"));
        EXPECT_EQ(updates.next(), Status::satisfied);

        // The far end going down takes the carrier, not the route.
        ASSERT_TRUE(ip("link set velmor1 down"));
        EXPECT_EQ(updates.next(), Status::unsatisfied);
        ASSERT_TRUE(ip("link set velmor1 up"));
        EXPECT_EQ(updates.next(), Status::satisfied);

        ASSERT_TRUE(ip("route del default"));
        EXPECT_EQ(updates.next(), Status::unsatisfied);

        // Default routes that lead nowhere: through the loopback, in the local table, not unicast.
        ASSERT_TRUE(ip("route add default dev lo"));
        ASSERT_TRUE(ip("route add unicast default via 10.77.0.2 dev velmor0 table local"));
        ASSERT_TRUE(ip("route add blackhole default table 5"));
        EXPECT_EQ(currentStatus(), Status::unsatisfied);

        // IPv6 counts too, and so does a table of its own.
        ASSERT_TRUE(ip("-6 addr add fd00:77::1/64 dev velmor0 nodad"));
        ASSERT_TRUE(ip("-6 route add default via fd00:77::2 dev velmor0 table 1000"));
        EXPECT_EQ(updates.next(), Status::satisfied);
        EXPECT_EQ(currentStatus(), Status::satisfied);

        ASSERT_TRUE(ip("link set velmor0 down"));
        EXPECT_EQ(updates.next(), Status::unsatisfied) << "a link that is down";

        monitor.cancel();
        ASSERT_TRUE(ip("link set velmor0 up"));
        ASSERT_TRUE(ip("route replace default via 10.77.0.2 dev velmor0"));
        queue.sync([] {});
        EXPECT_EQ(updates.pending(), 0u) << "nothing is delivered after cancel";
    });
    if (skipped || cannotLink) {
        GTEST_SKIP() << skipped.value_or(cannotLink.value_or(""));
    }
}

namespace {

std::size_t openDescriptors() {
    std::size_t count = 0;
    for ([[maybe_unused]] auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        ++count;
    }
    return count;
}

} // namespace

TEST(NetlinkPathMonitor, ADroppedMonitorClosesItsSocketsWhetherStartedOrNot) {
    // The kernel refuses an ordinary user some netlink messages that root may send, so the same runs
    // again as one, in a fresh process.
    if (testing::isChildTestRun()) {
        ASSERT_EQ(::setgroups(0, nullptr), 0);
        ASSERT_EQ(
            ::setresgid(testing::unprivilegedUser, testing::unprivilegedUser, testing::unprivilegedUser), 0);
        ASSERT_EQ(
            ::setresuid(testing::unprivilegedUser, testing::unprivilegedUser, testing::unprivilegedUser), 0);
    } else if (::geteuid() == 0) {
        EXPECT_EQ(testing::runCurrentTestInChild(), 0) << "as an ordinary user";
    }
    testing::Watchdog watchdog("dropping path monitors", 60);
    SerialQueue queue("com.velmor.test.pathmonitor");
    { NetlinkPathMonitor warmUp; } // the reactor's own descriptor opens once
    IOReactor::shared();
    const std::size_t before = openDescriptors();
    for (int i = 0; i < 200; ++i) {
        { NetlinkPathMonitor unstarted; }
        auto started = std::make_unique<NetlinkPathMonitor>();
        started->setPathUpdateHandler([](const NetworkPath&) {});
        started->start(queue);
        if (i % 2 == 0) {
            queue.sync([] {}); // now waiting on the reactor
        }
        started.reset();
    }
    // A started monitor lets go of its sockets once its wait on the reactor ends, a moment later.
    for (int round = 0; round < 2000 && openDescriptors() > before; ++round) {
        queue.sync([] {});
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_EQ(openDescriptors(), before);
}

} // namespace velmor
