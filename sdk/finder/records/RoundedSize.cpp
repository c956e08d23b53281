#include "sdk/finder/records/RoundedSize.hpp"

namespace sweepkit {

std::int64_t roundedSize(const velmor::Stat& stat) {
    if (stat.st_size <= 0) {
        return 0;
    }
    const std::int64_t block = stat.st_blksize >= 2 ? stat.st_blksize : 1;
    // Integer arithmetic gives the rounded-up quotient without the precision a double loses above
    // 2^53 bytes.
    return (stat.st_size / block + (stat.st_size % block != 0 ? 1 : 0)) * block;
}

} // namespace sweepkit
