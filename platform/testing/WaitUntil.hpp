#pragma once

#include <chrono>
#include <functional>
#include <thread>

namespace velmor::testing {

// Polls `done` until it holds, for what another thread finishes at a moment the test cannot know.
// False after `seconds` of real time: the limit only keeps a broken test from hanging.
inline bool waitUntil(const std::function<bool()>& done, double seconds = 30) {
    auto limit = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!done()) {
        if (std::chrono::steady_clock::now() > limit) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

} // namespace velmor::testing
