#pragma once

#include <algorithm>
#include <concepts>

namespace velmor {

// [lower, upper)
template <typename T> struct HalfOpenRange {
    T lower;
    T upper;
};

// [lower, upper]
template <typename T> struct ClosedRange {
    T lower;
    T upper;
};

// Clamps into [lower, upper - 1]. An empty range gives its lower bound, also when upper - 1 would
// not exist.
template <std::integral T> T constrained(T value, HalfOpenRange<T> range) {
    if (range.upper <= range.lower) {
        return range.lower;
    }
    return std::max(range.lower, std::min(static_cast<T>(range.upper - 1), value));
}

template <std::totally_ordered T> T constrained(T value, ClosedRange<T> range) {
    return std::max(range.lower, std::min(range.upper, value));
}

} // namespace velmor
