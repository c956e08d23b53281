#pragma once

#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace velmor::testing {

// The address of the local socket at `path`; false when the path is too long for one.
inline bool localSocketAddress(const std::string& path, ::sockaddr_un& address) {
    address = {};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) {
        return false;
    }
    path.copy(address.sun_path, path.size());
    return true;
}

// A sequenced-packet socket bound at `path`, listening with room for `backlog` waiting connections
// or (`backlog` below 0) not listening; -1 when it cannot be made. The caller closes it.
inline int boundLocalSocket(const std::string& path, int backlog) {
    ::sockaddr_un address{};
    if (!localSocketAddress(path, address)) {
        return -1;
    }
    const int socket = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    if (socket >= 0 && (::bind(socket, reinterpret_cast<const ::sockaddr*>(&address), sizeof address) != 0 ||
                        (backlog >= 0 && ::listen(socket, backlog) != 0))) {
        ::close(socket);
        return -1;
    }
    return socket;
}

} // namespace velmor::testing
