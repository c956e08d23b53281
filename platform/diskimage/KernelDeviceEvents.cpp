#include "platform/diskimage/KernelDeviceEvents.hpp"

#include <linux/netlink.h>
#include <poll.h>
#include <sys/socket.h>

namespace velmor::diskimage {

KernelDeviceEvents::KernelDeviceEvents()
    : socket_(::socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, NETLINK_KOBJECT_UEVENT)) {
    if (socket_.get() < 0) {
        return;
    }
    sockaddr_nl address{};
    address.nl_family = AF_NETLINK;
    address.nl_groups = 1; // the kernel's own announcements
    if (::bind(socket_.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        socket_.reset();
    }
}

bool KernelDeviceEvents::waitUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) const {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (socket_.get() < 0 || left.count() <= 0) {
            return false;
        }
        pollfd entry{socket_.get(), POLLIN, 0};
        if (::poll(&entry, 1, static_cast<int>(left.count()) + 1) <= 0) {
            continue;
        }
        // Any announcement may be the one awaited; what it says is read from the system afterwards.
        char message[8192];
        while (::recv(socket_.get(), message, sizeof message, 0) > 0) {
        }
    }
    return true;
}

} // namespace velmor::diskimage
