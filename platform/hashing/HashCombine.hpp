#pragma once

#include <cstddef>

namespace velmor {

// Feeds `value` into `seed`, order-sensitively, for hashes of records made of several parts.
inline void hashCombine(std::size_t& seed, std::size_t value) {
    seed ^= value + 0x9e3779b97f4a7c15ull + (seed << 6) + (seed >> 2);
}

} // namespace velmor
