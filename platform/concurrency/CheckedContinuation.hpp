#pragma once

#include "platform/concurrency/Task.hpp"

#include <condition_variable>
#include <exception>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <type_traits>
#include <utility>
#include <variant>

namespace velmor {

namespace detail {

// Reports a continuation resumed twice; stops the process.
[[noreturn]] void continuationResumedTwice(const std::string& label);
// Reports a continuation dropped without being resumed.
std::exception_ptr continuationLeaked(const std::string& label);

template <typename T> struct ContinuationState {
    using Value = std::conditional_t<std::is_void_v<T>, std::monostate, T>;

    explicit ContinuationState(std::string label) : label(std::move(label)) {}

    const std::string label;
    std::mutex mutex;
    std::condition_variable resumed;
    bool isResumed = false;
    // The body that was handed the continuation threw: nobody waits any more, and what copies of
    // it deliver later is dropped.
    bool isAbandoned = false;
    std::optional<Value> value;
    std::exception_ptr error;

    // Delivers unless something was delivered before; says whether this call did.
    bool tryDeliver(std::optional<Value> newValue, std::exception_ptr newError) {
        {
            std::lock_guard lock(mutex);
            if (isResumed) {
                return false;
            }
            isResumed = true;
            value = std::move(newValue);
            error = std::move(newError);
        }
        resumed.notify_all();
        return true;
    }

    void deliver(std::optional<Value> newValue, std::exception_ptr newError) {
        if (!tryDeliver(std::move(newValue), std::move(newError))) {
            std::lock_guard lock(mutex);
            if (!isAbandoned) {
                continuationResumedTwice(label);
            }
        }
    }

    void abandon() {
        std::lock_guard lock(mutex);
        isResumed = true;
        isAbandoned = true;
    }
};

// Lives as long as some copy of the continuation: when the last copy goes unresumed, the waiter
// is released with an error instead of waiting for ever.
template <typename T> struct ContinuationOwner {
    std::shared_ptr<ContinuationState<T>> state;
    ~ContinuationOwner() {
        bool resumed;
        {
            std::lock_guard lock(state->mutex);
            resumed = state->isResumed;
        }
        if (!resumed) {
            state->deliver(std::nullopt, continuationLeaked(state->label));
        }
    }
};

} // namespace detail

// The way back into a waiting caller from a completion handler: it must be resumed exactly once.
// A second `resume` stops the process with the continuation's label (the `tryResume` forms allow
// racing resumers instead); dropping every copy without resuming releases the caller with an
// error that names the label.
template <typename T> class CheckedContinuation {
public:
    using Value = typename detail::ContinuationState<T>::Value;

    void resume() const requires std::is_void_v<T> { owner_->state->deliver(Value{}, nullptr); }
    void resume(Value value) const requires(!std::is_void_v<T>) {
        owner_->state->deliver(std::move(value), nullptr);
    }
    void resumeThrowing(std::exception_ptr error) const {
        owner_->state->deliver(std::nullopt, std::move(error));
    }
    template <typename E> void resumeThrowing(E error) const {
        resumeThrowing(std::make_exception_ptr(std::move(error)));
    }

    // The forms for a continuation that two sources race to resume (a completion and a
    // cancellation handler): the first call resumes it and returns true, the later ones return
    // false and change nothing.
    bool tryResume() const requires std::is_void_v<T> { return owner_->state->tryDeliver(Value{}, nullptr); }
    bool tryResume(Value value) const requires(!std::is_void_v<T>) {
        return owner_->state->tryDeliver(std::move(value), nullptr);
    }
    bool tryResumeThrowing(std::exception_ptr error) const {
        return owner_->state->tryDeliver(std::nullopt, std::move(error));
    }
    template <typename E> bool tryResumeThrowing(E error) const {
        return tryResumeThrowing(std::make_exception_ptr(std::move(error)));
    }

private:
    template <typename U, typename Body> friend U withCheckedContinuation(std::string label, Body&& body);

    explicit CheckedContinuation(std::shared_ptr<detail::ContinuationState<T>> state)
        : owner_(std::make_shared<detail::ContinuationOwner<T>>(std::move(state))) {}

    std::shared_ptr<detail::ContinuationOwner<T>> owner_;
};

// Calls `body` with a continuation on the calling thread, then waits until it is resumed and
// returns its value or rethrows its error. The wait does not end on cancellation; a caller that
// must react to it installs a cancellation handler that resumes the continuation (`tryResume`,
// as the completion may come first). When `body` throws, its error goes on to the caller and
// what copies of the continuation deliver later is dropped.
template <typename T, typename Body> T withCheckedContinuation(std::string label, Body&& body) {
    detail::checkNotBlockingMain("withCheckedContinuation");
    auto state = std::make_shared<detail::ContinuationState<T>>(std::move(label));
    {
        // Kept until the body's outcome is known, so that a body that throws is not reported as
        // one that dropped its continuation.
        CheckedContinuation<T> continuation(state);
        try {
            std::forward<Body>(body)(continuation);
        } catch (...) {
            state->abandon();
            throw;
        }
    }
    {
        detail::HeldActorsRelease released;
        std::unique_lock lock(state->mutex);
        state->resumed.wait(lock, [&] { return state->isResumed; });
    }
    std::lock_guard lock(state->mutex);
    if (state->error) {
        std::rethrow_exception(state->error);
    }
    if constexpr (!std::is_void_v<T>) {
        return std::move(*state->value);
    }
}

} // namespace velmor
