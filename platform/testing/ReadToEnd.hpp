#pragma once

#include <cerrno>
#include <string>
#include <unistd.h>

namespace velmor::testing {

// Everything a descriptor yields until its end, read blocking.
inline std::string readToEnd(int descriptor) {
    std::string text;
    char buffer[4096];
    ssize_t count = 0;
    while ((count = ::read(descriptor, buffer, sizeof buffer)) > 0 || (count < 0 && errno == EINTR)) {
        if (count > 0) {
            text.append(buffer, static_cast<std::size_t>(count));
        }
    }
    return text;
}

} // namespace velmor::testing
