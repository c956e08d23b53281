#pragma once

#include <cstdint>
#include <limits>

namespace sweepkit {

// Adds byte counts without wrapping round: a sparse file may claim nearly 2^63 bytes, and two of
// them must not add up to a negative size. The sum stops at the largest (or smallest) count.
inline std::int64_t saturatingAdd(std::int64_t sum, std::int64_t bytes) {
    std::int64_t result = 0;
    if (__builtin_add_overflow(sum, bytes, &result)) {
        return bytes > 0 ? std::numeric_limits<std::int64_t>::max()
                         : std::numeric_limits<std::int64_t>::min();
    }
    return result;
}

} // namespace sweepkit
