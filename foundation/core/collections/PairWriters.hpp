#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace velmor::testing {

// Calls `walk` over and over while three threads change a shared collection through
// `writePair(key, dropPrevious)`, which in one update adds the pair (key, -key) and, when asked,
// drops the pair before it. Every state a whole update leaves holds whole pairs that sum to zero,
// so a walk that sees anything else saw a half-done change. Stops early on a fatal failure.
template <typename WritePair, typename Walk> void walkWhileWritingPairs(WritePair writePair, Walk walk) {
    constexpr int writerCount = 3;
    std::atomic<int> writing{writerCount};
    std::vector<std::jthread> writers;
    for (int thread = 0; thread < writerCount; ++thread) {
        writers.emplace_back([&, thread] {
            for (int i = 1; i <= 3000; ++i) {
                writePair(thread * 100000 + i, i % 3 != 0);
            }
            --writing;
        });
    }
    do {
        walk();
    } while (writing > 0 && !::testing::Test::HasFatalFailure());
}

} // namespace velmor::testing
