#pragma once

#include "platform/error/Error.hpp"

#include <cstdint>
#include <string>
#include <vector>

namespace velmor {

// Running processes read from /proc. An ordinary user cannot read other users' executables, so
// their processes are never found by path.
struct ProcUtils {
    enum class Error { processNotRunning };

    // The numeric entries of /proc in directory order; empty when /proc cannot be read.
    static std::vector<std::int32_t> runningPids();

    // The executable's path, its bytes as the kernel has them. A replaced executable still counts
    // as running at its path. Throws `TypedError<Error>` processNotRunning on any failure.
    static std::string path(std::int32_t pid);

    // Processes whose executable path equals (or contains) `path`, byte for byte, in `runningPids`
    // order; those whose path cannot be read are left out.
    static std::vector<std::int32_t> runningPidsMatchingPath(const std::string& path);
    static std::vector<std::int32_t> runningPidsContainingPath(const std::string& path);

    // The effective user id. Throws processNotRunning on any failure.
    static std::uint32_t userId(std::int32_t pid);
};

template <> struct ErrorDomain<ProcUtils::Error> {
    static constexpr const char* value = "VelmorFoundation.ProcUtils.Error";
};

} // namespace velmor
