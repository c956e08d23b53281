#include "platform/log/StderrSink.hpp"

#include <cerrno>
#include <unistd.h>

namespace velmor::log {

std::string StderrSink::formatLine(std::string_view subsystem, std::string_view category, LogType type,
                                   std::string_view message) {
    std::string line;
    line.reserve(subsystem.size() + category.size() + message.size() + 16);
    line.append(subsystem).append(" [").append(category).append("] ").append(logTypeName(type));
    line.append(": ").append(message).append("\n");
    return line;
}

void StderrSink::write(std::string_view subsystem, std::string_view category, LogType type,
                       std::string_view message) {
    // One write per line, so that lines of concurrent writers never interleave within a line.
    std::string line = formatLine(subsystem, category, type, message);
    std::string_view rest = line;
    while (!rest.empty()) {
        ssize_t written = ::write(fd_, rest.data(), rest.size());
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return; // nowhere left to report a failing log stream
        }
        rest.remove_prefix(static_cast<std::size_t>(written));
    }
}

} // namespace velmor::log
