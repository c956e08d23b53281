#pragma once

#include "foundation/core/collections/Guarded.hpp"
#include "platform/coding/Decoding.hpp"

#include <type_traits>
#include <utility>

namespace velmor {

// A value with a lock of its own. Every access runs in a closure holding the lock, so a
// read-modify-write is atomic. The lock is not recursive: the closure must not use the same box.
template <typename Value> class LegacyMutex {
public:
    explicit LegacyMutex(Value value) : wrapped_("LegacyMutex", std::move(value)) {}

    // Calls `body` with the stored value in place and returns its result. What the body changed
    // before throwing stays, and its exception passes on with the lock released.
    template <typename Body> std::invoke_result_t<Body, Value&> withLock(Body&& body) {
        return wrapped_.update(std::forward<Body>(body));
    }
    // The same for a body that only reads the value.
    template <typename Body> std::invoke_result_t<Body, const Value&> withLock(Body&& body) const {
        return wrapped_.read(std::forward<Body>(body));
    }

private:
    Guarded<Value> wrapped_;
};

// A box is coded as exactly its value, with no wrapping key or container.
template <typename Value> struct coding::Coding<LegacyMutex<Value>> {
    static coding::Value encode(const LegacyMutex<Value>& box) {
        return box.withLock([](const Value& value) { return coding::encode(value); });
    }
    static LegacyMutex<Value> decode(const coding::Decoder& decoder) {
        return LegacyMutex<Value>(decoder.as<Value>());
    }
};

} // namespace velmor
