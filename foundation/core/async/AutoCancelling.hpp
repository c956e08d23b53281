#pragma once

#include "platform/concurrency/Task.hpp"

#include <optional>
#include <utility>

namespace velmor {

// Holds one task handle and cancels the task it held whenever another value is stored, and when
// the holder goes. It has no lock: keep it in state that one thread or one actor owns. It cannot be
// copied: a copy would cancel one task twice, or not at all.
template <typename T = void> class AutoCancelling {
public:
    // Holds `wrappedValue` without cancelling anything.
    explicit AutoCancelling(std::optional<Task<T>> wrappedValue = std::nullopt) : wrappedValue_(std::move(wrappedValue)) {}
    ~AutoCancelling() {
        if (wrappedValue_) {
            wrappedValue_->cancel();
        }
    }
    AutoCancelling(const AutoCancelling&) = delete;
    AutoCancelling& operator=(const AutoCancelling&) = delete;

    const std::optional<Task<T>>& wrappedValue() const { return wrappedValue_; }

    // Cancels the task held so far, then holds `value`. Storing the held handle again cancels that
    // very task and keeps holding it.
    void setWrappedValue(std::optional<Task<T>> value) {
        if (wrappedValue_) {
            wrappedValue_->cancel();
        }
        wrappedValue_ = std::move(value);
    }
    AutoCancelling& operator=(std::optional<Task<T>> value) {
        setWrappedValue(std::move(value));
        return *this;
    }

private:
    std::optional<Task<T>> wrappedValue_;
};

} // namespace velmor
