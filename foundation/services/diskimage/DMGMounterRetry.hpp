#pragma once

#include <algorithm>
#include <chrono>
#include <exception>
#include <functional>
#include <thread>

namespace velmor::dmgmounter {

// How the retry routine pauses; tests hand one that records instead of sleeping.
using Sleeper = std::function<void(std::chrono::seconds)>;

inline Sleeper threadSleeper() {
    return [](std::chrono::seconds pause) { std::this_thread::sleep_for(pause); };
}

// Runs `operation` up to `times` times (at least once), pausing 1, 2, ... seconds between attempts,
// and returns its first value; the last attempt's error is thrown, earlier ones are dropped.
// Blocks the calling thread.
template <typename Operation>
auto retry(int times, Operation&& operation, const Sleeper& sleep = threadSleeper()) -> decltype(operation()) {
    const int limit = std::max(times, 1);
    for (int attempt = 1;; ++attempt) {
        try {
            return operation();
        } catch (...) {
            if (attempt == limit) {
                throw;
            }
        }
        sleep(std::chrono::seconds(attempt));
    }
}

} // namespace velmor::dmgmounter
