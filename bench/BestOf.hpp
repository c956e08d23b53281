#pragma once

#include <algorithm>
#include <chrono>

namespace bench {

// The shortest wall time of `runs` runs of `work`, in seconds: the run least disturbed by the rest
// of the machine.
template <typename Work> double bestSeconds(int runs, Work&& work) {
    double best = 1e9;
    for (int run = 0; run < runs; ++run) {
        auto start = std::chrono::steady_clock::now();
        work();
        std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
        best = std::min(best, elapsed.count());
    }
    return best;
}

} // namespace bench
