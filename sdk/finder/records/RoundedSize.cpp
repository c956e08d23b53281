#include "sdk/finder/records/RoundedSize.hpp"

#include <limits>

namespace sweepkit {

std::int64_t roundedSize(const velmor::Stat& stat) {
    if (stat.st_size <= 0) {
        return 0;
    }
    const std::int64_t block = stat.st_blksize >= 2 ? stat.st_blksize : 1;
    // Integer arithmetic gives the rounded-up quotient without the precision a double loses above
    // 2^53 bytes. A sparse file may claim a length within a block of the largest count: its
    // rounded size stops there.
    const std::int64_t blocks = stat.st_size / block + (stat.st_size % block != 0 ? 1 : 0);
    std::int64_t size = 0;
    if (__builtin_mul_overflow(blocks, block, &size)) {
        return std::numeric_limits<std::int64_t>::max();
    }
    return size;
}

} // namespace sweepkit
