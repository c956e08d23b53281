#pragma once

#include "foundation/core/collections/NonRecursiveMutex.hpp"

#include <functional>
#include <mutex>
#include <shared_mutex>
#include <type_traits>
#include <utility>

namespace velmor {

// A value reached only through closures that hold its lock: the common ground of the boxes and
// thread-safe collections. With a shared mutex, reads run side by side and updates alone.
template <typename Value, typename Mutex = std::mutex> class Guarded {
public:
    // `owner` names the type that holds the value, for the debug build's re-entry message.
    template <typename... Arguments>
    explicit Guarded(const char* owner, Arguments&&... arguments)
        : lock_(owner), value_(std::forward<Arguments>(arguments)...) {}
    Guarded(const Guarded&) = delete;
    Guarded& operator=(const Guarded&) = delete;

    // Calls `body` with the value, which it cannot change, and returns its result.
    template <typename Body> std::invoke_result_t<Body, const Value&> read(Body&& body) const {
        if constexpr (std::is_same_v<Mutex, std::shared_mutex>) {
            std::shared_lock guard(lock_);
            return std::invoke(std::forward<Body>(body), value_);
        } else {
            std::lock_guard guard(lock_);
            return std::invoke(std::forward<Body>(body), value_);
        }
    }
    // Calls `body` with the value in place and returns its result. What the body changed before
    // throwing stays, and its exception passes on with the lock released.
    template <typename Body> std::invoke_result_t<Body, Value&> update(Body&& body) {
        std::lock_guard guard(lock_);
        return std::invoke(std::forward<Body>(body), value_);
    }

    // A copy of the value, taken in one step.
    Value snapshot() const {
        return read([](const Value& value) { return value; });
    }

private:
    mutable NonRecursiveMutex<Mutex> lock_;
    Value value_;
};

} // namespace velmor
