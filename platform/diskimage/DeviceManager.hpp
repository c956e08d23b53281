#pragma once

#include <optional>
#include <string>

namespace velmor::diskimage {

// The device manager's control socket; the disk service learns of new loop devices from the manager.
inline constexpr const char* deviceManagerControl = "/run/udev/control";

// Why nothing would tell the disk service of a new loop device, if so: the control socket at
// `controlSocket` is missing, or is left by a manager that stopped and nothing answers there. A
// manager that takes no new connection for now still runs; the probe does not wait for it. A user
// who may not connect there (only root may, as a rule) is told from the kernel's table of local
// sockets in `socketTable` whether anything listens at that path.
std::optional<std::string> deviceManagerAbsence(const std::string& controlSocket = deviceManagerControl,
                                                const std::string& socketTable = "/proc/net/unix");

} // namespace velmor::diskimage
