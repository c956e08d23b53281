#include "sdk/finder/records/RoundedSize.hpp"

#include <gtest/gtest.h>

#include <limits>

namespace sweepkit {

TEST(RoundedSize, RoundsUpToWholeBlocksOfTheEntrysBlockSize) {
    constexpr std::int64_t largest = std::numeric_limits<std::int64_t>::max();
    struct Case {
        std::int64_t size;
        std::int32_t blockSize;
        std::int64_t expected;
    };
    const Case cases[] = {
        {0, 4096, 0},
        {-5, 4096, 0},
        {1, 4096, 4096},
        {4096, 4096, 4096},
        {4097, 4096, 8192},
        {1000, 0, 1000},
        {1000, 1, 1000},
        {1000, -3, 1000},
        {3, 2, 4},
        {8193, 512, 8704},
        {(1ll << 53) + 1, 4096, (1ll << 53) + 4096},
        // A sparse file may claim nearly the largest count: whole blocks stop there.
        {largest - 4095, 4096, largest - 4095},
        {largest - 4096, 4096, largest - 4095},
        {largest - 4094, 4096, largest},
        {largest, 4096, largest},
        {largest, 1, largest},
        {largest, 3, largest},
    };
    for (const auto& c : cases) {
        velmor::Stat stat;
        stat.st_size = c.size;
        stat.st_blksize = c.blockSize;
        EXPECT_EQ(roundedSize(stat), c.expected) << c.size << " in blocks of " << c.blockSize;
    }
}

} // namespace sweepkit
