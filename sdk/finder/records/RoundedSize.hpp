#pragma once

#include "platform/fs/Stat.hpp"

#include <cstdint>

namespace sweepkit {

// The size an entry counts for: its length rounded up to whole blocks of its own block size (a
// block size below 2 counts as 1), at most the largest count. Every engine and every folder sum
// counts this size, summed with `saturatingAdd`.
std::int64_t roundedSize(const velmor::Stat& stat);

} // namespace sweepkit
