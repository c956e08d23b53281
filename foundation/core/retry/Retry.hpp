#pragma once

#include <cstdint>
#include <type_traits>
#include <utility>

namespace velmor {

namespace detail {
// Blocks the calling thread for `seconds` on the current timer service; nothing cuts it short.
void sleepBetweenRetries(double seconds);
} // namespace detail

// Calls `payload` until it returns, at most `times` times (at least once), pausing 1, 2, 3 ...
// seconds on the calling thread between calls. Gives the first value returned, or rethrows the
// last call's exception unchanged; earlier exceptions are dropped.
template <typename Payload> std::invoke_result_t<Payload&> retry(std::int64_t times, Payload&& payload) {
    const std::int64_t calls = times < 1 ? 1 : times;
    for (std::int64_t call = 1;; ++call) {
        try {
            return payload();
        } catch (...) {
            if (call >= calls) {
                throw;
            }
        }
        detail::sleepBetweenRetries(static_cast<double>(call));
    }
}

} // namespace velmor
