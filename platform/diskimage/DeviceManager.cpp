#include "platform/diskimage/DeviceManager.hpp"

#include "platform/fs/Descriptor.hpp"
#include "platform/fs/FileContents.hpp"

#include <cerrno>
#include <cstdlib>
#include <sstream>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace velmor::diskimage {

namespace {

// Far above the table of a busy machine; a larger one is not read, and tells nothing.
constexpr std::size_t socketTableLimit = 64 << 20;
// The flag of a listening socket in the kernel's table (__SO_ACCEPTCON).
constexpr unsigned long listeningFlag = 0x10000;

// Whether the kernel's table of local sockets lists one listening at `path`; nothing when the
// table cannot be read.
std::optional<bool> listensAt(const std::string& path, const std::string& socketTable) {
    const WholeFile table = readWholeFile(socketTable, socketTableLimit);
    if (table.error != 0) {
        return std::nullopt;
    }
    // "Num RefCount Protocol Flags Type St Inode Path", the path last and only for a bound socket.
    std::istringstream lines(table.contents);
    std::string line;
    std::getline(lines, line);
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::string number, references, protocol, flags, type, state, inode;
        if (!(fields >> number >> references >> protocol >> flags >> type >> state >> inode)) {
            continue;
        }
        std::string bound;
        std::getline(fields >> std::ws, bound);
        if (bound == path && (std::strtoul(flags.c_str(), nullptr, 16) & listeningFlag) != 0) {
            return true;
        }
    }
    return false;
}

} // namespace

std::optional<std::string> deviceManagerAbsence(const std::string& controlSocket, const std::string& socketTable) {
    if (::access(controlSocket.c_str(), F_OK) != 0) {
        return controlSocket + " is missing";
    }
    ::sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (controlSocket.size() >= sizeof address.sun_path) {
        return std::nullopt;
    }
    controlSocket.copy(address.sun_path, controlSocket.size());
    const Descriptor probe(::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!probe) {
        return std::nullopt;
    }
    if (::connect(probe.get(), reinterpret_cast<const ::sockaddr*>(&address), sizeof address) == 0) {
        return std::nullopt;
    }
    if (errno == ECONNREFUSED || errno == ENOENT) {
        return "nothing answers at " + controlSocket;
    }
    if ((errno == EACCES || errno == EPERM) && listensAt(controlSocket, socketTable) == false) {
        return "nothing listens at " + controlSocket;
    }
    return std::nullopt;
}

} // namespace velmor::diskimage
