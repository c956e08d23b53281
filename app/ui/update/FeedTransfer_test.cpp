// A transfer whose name look-up never gets an answer, in a network and mount namespace of its own
// whose only name server takes the questions and keeps silent.

#include "app/ui/update/FeedTransfer.hpp"

#include "platform/testing/PrivateNetworkNamespace.hpp"
#include "platform/testing/TemporaryDirectory.hpp"
#include "platform/testing/WaitUntil.hpp"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <cstring>
#include <memory>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <string>
#include <sys/mount.h>
#include <sys/socket.h>
#include <unistd.h>

namespace marrowdale {
namespace {

// Seconds the system's resolver waits for the silent server: far past the bound of the test.
constexpr int resolverPatience = 30;

// Listens at 127.0.0.1:53 and never answers; the questions stay queued, so that one is seen.
class SilentNameServer {
public:
    SilentNameServer() : socket_(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(53);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bound_ = socket_ >= 0 && ::bind(socket_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    }
    ~SilentNameServer() { ::close(socket_); }
    SilentNameServer(const SilentNameServer&) = delete;
    SilentNameServer& operator=(const SilentNameServer&) = delete;

    bool bound() const { return bound_; }
    bool asked() const {
        pollfd question{socket_, POLLIN, 0};
        return ::poll(&question, 1, 0) == 1;
    }

private:
    int socket_;
    bool bound_ = false;
};

// Gives this thread, and the threads it starts, a resolver configuration that names only the
// silent server; why it could not, else "".
std::string useOnlyTheSilentServer(const velmor::testing::TemporaryDirectory& dir) {
    const std::string configuration = dir.writeFile(
        "resolv.conf",
        "nameserver 127.0.0.1\noptions timeout:" + std::to_string(resolverPatience) + " attempts:1\n");
    if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        ::mount(configuration.c_str(), "/etc/resolv.conf", nullptr, MS_BIND, nullptr) != 0) {
        return std::string("cannot give the thread a resolver configuration of its own: ") +
               std::strerror(errno);
    }
    return "";
}

TEST(FeedTransfer, DroppingATransferWhoseNameLookUpGetsNoAnswerReturnsAtOnce) {
    velmor::testing::TemporaryDirectory dir;
    std::string skipped;
    auto namespaceSkipped = velmor::testing::runInPrivateNetworkNamespace([&] {
        if (!velmor::testing::ip("link set lo up")) {
            skipped = "cannot bring up the loopback link of the private network namespace";
            return;
        }
        SilentNameServer server;
        if (!server.bound()) {
            skipped = std::string("cannot listen at 127.0.0.1:53: ") + std::strerror(errno);
            return;
        }
        if (skipped = useOnlyTheSilentServer(dir); !skipped.empty()) {
            return;
        }
        std::atomic<bool> finished{false};
        FeedTransferRules rules{{}, {}, std::chrono::seconds(2 * resolverPatience), 1 << 20, 64 << 10, 5};
        auto transfer = std::make_unique<FeedTransfer>(QUrl("https://updates.marrowdale.test/feed"), rules,
                                                       [&](FeedResponse) { finished = true; });
        ASSERT_TRUE(velmor::testing::waitUntil([&] { return server.asked(); })) << "no name look-up began";

        const auto dropped = std::chrono::steady_clock::now();
        transfer.reset();
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - dropped).count();
        // A bound for the wait on the resolver, which would take its whole patience.
        EXPECT_LT(seconds, 5.0) << "the drop waited for the name look-up";
        EXPECT_FALSE(finished);
    });
    if (namespaceSkipped) {
        skipped = *namespaceSkipped;
    }
    if (!skipped.empty()) {
        GTEST_SKIP() << skipped;
    }
}

} // namespace
} // namespace marrowdale
