#include "foundation/core/collections/NonRecursiveMutex.hpp"

#include "platform/error/FatalError.hpp"

#include <algorithm>
#include <string>
#include <vector>

namespace velmor::lockOwnership {

namespace {

// A thread rarely holds more than one or two of these at once.
std::vector<const void*>& heldLocks() {
    thread_local std::vector<const void*> held;
    return held;
}

} // namespace

void willLock(const void* lock, const char* owner) noexcept {
    const auto& held = heldLocks();
    if (std::find(held.begin(), held.end(), lock) != held.end()) {
        fatalError(std::string(owner) +
                   ": a closure running under its lock used the same object again; the lock is not "
                   "recursive, so this would deadlock");
    }
}

void didLock(const void* lock) noexcept {
    heldLocks().push_back(lock);
}

void didUnlock(const void* lock) noexcept {
    auto& held = heldLocks();
    if (auto found = std::find(held.rbegin(), held.rend(), lock); found != held.rend()) {
        held.erase(std::next(found).base());
    }
}

} // namespace velmor::lockOwnership
