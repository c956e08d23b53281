#pragma once

#include <mutex>
#include <utility>

namespace velmor {

// A value that is only read and replaced whole, each under a lock. A read followed by a write is
// not atomic as a whole: two threads changing the value that way can lose one change, so updates
// that depend on the old value belong in a `LegacyMutex`.
template <typename Value> class Locked {
public:
    explicit Locked(Value property) : propertyStore_(std::move(property)) {}
    Locked(const Locked&) = delete;
    Locked& operator=(const Locked&) = delete;

    Value property() const {
        std::lock_guard guard(lock_);
        return propertyStore_;
    }
    void setProperty(Value property) {
        std::lock_guard guard(lock_);
        propertyStore_ = std::move(property);
    }

private:
    Value propertyStore_;
    mutable std::mutex lock_;
};

} // namespace velmor
