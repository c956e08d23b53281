#include "platform/dispatch/UncaughtError.hpp"

#include <cstdio>
#include <string>

namespace velmor {

void reportUncaughtError(std::string_view kind, std::string_view label,
                         const std::exception* error) noexcept {
    std::string place = std::string(kind) + std::string(label);
    if (error != nullptr) {
        std::fprintf(stderr, "Uncaught exception in %s: %s\n", place.c_str(), error->what());
    } else {
        std::fprintf(stderr, "Uncaught exception in %s\n", place.c_str());
    }
}

} // namespace velmor
