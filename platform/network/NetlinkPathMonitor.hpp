#pragma once

#include "platform/network/PathMonitor.hpp"

#include <memory>

namespace velmor {

// The kernel's path monitor: listens on a route netlink socket for link and route changes and
// calls the path satisfied while a default route (IPv4 or IPv6, unicast, in any table but the
// local one) leaves through a link that is up, running and not the loopback.
//
// Its sockets are opened by the constructor, on the calling thread, so it watches that thread's
// network namespace; they are read on the I/O reactor.
class NetlinkPathMonitor : public PathMonitor {
public:
    // Throws `std::system_error` when the sockets cannot be opened.
    NetlinkPathMonitor();
    ~NetlinkPathMonitor() override;
    NetlinkPathMonitor(const NetlinkPathMonitor&) = delete;
    NetlinkPathMonitor& operator=(const NetlinkPathMonitor&) = delete;

    void setPathUpdateHandler(UpdateHandler handler) override;
    void start(SerialQueue queue) override;
    void cancel() override;

    struct State;

private:
    std::shared_ptr<State> state_;
};

} // namespace velmor
