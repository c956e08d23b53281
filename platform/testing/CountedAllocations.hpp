#pragma once

// Counts every allocation of a test binary through `operator new`, so a test can tell copying from
// moving, or work in proportion to its input from work in its square, without timing anything.
// Include this in exactly one source file of a test binary: it replaces the global operators.

#include <atomic>
#include <cstddef>
#include <cstdlib>
#include <new>

namespace velmor::testing {

inline std::atomic<std::size_t> allocationsMade{0};
inline std::atomic<std::size_t> bytesAllocated{0};

} // namespace velmor::testing

void* operator new(std::size_t size) {
    velmor::testing::allocationsMade.fetch_add(1, std::memory_order_relaxed);
    velmor::testing::bytesAllocated.fetch_add(size, std::memory_order_relaxed);
    if (void* memory = std::malloc(size == 0 ? 1 : size)) {
        return memory;
    }
    throw std::bad_alloc();
}
void operator delete(void* memory) noexcept {
    std::free(memory);
}
void operator delete(void* memory, std::size_t) noexcept {
    std::free(memory);
}
