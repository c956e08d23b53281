#pragma once

#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <type_traits>

namespace velmor {

// A queue that runs its work one item at a time, in the order it was given, on pool threads that
// carry the queue's label as their name. Copies share one queue.
class SerialQueue {
public:
    explicit SerialQueue(std::string label);

    const std::string& label() const;

    // Queues `work` and returns at once. An exception that escapes `work` is reported on standard
    // error; the queue goes on with the next item. When the queue is idle and no thread can be
    // made to run it, throws `std::system_error` and `work` is not queued.
    void async(std::function<void()> work) const;
    // Queues `work` to run once `seconds` have passed on the current timer service.
    void asyncAfter(double seconds, std::function<void()> work) const;

    // Runs `work` on the queue, in turn with the queued items, and waits for it: the result is
    // returned and an exception is rethrown to the caller. `work` runs on the calling thread while
    // it holds the queue. Calling `sync` from work that this queue is running never returns, so a
    // debug build stops the process there. On the main thread, waiting for the queue's turn is
    // caught as a blocking wait (see MainThreadBlockCheck.hpp).
    template <typename F> std::invoke_result_t<F> sync(F&& work) const;

    // Whether the calling thread is running work of this queue.
    bool isCurrent() const;

    friend bool operator==(const SerialQueue& a, const SerialQueue& b) { return a.state_ == b.state_; }

    struct State;

private:
    void syncErased(const std::function<void()>& work) const;
    std::shared_ptr<State> state_;
};

template <typename F> std::invoke_result_t<F> SerialQueue::sync(F&& work) const {
    using R = std::invoke_result_t<F>;
    if constexpr (std::is_void_v<R>) {
        syncErased([&] { std::forward<F>(work)(); });
    } else {
        std::optional<R> result;
        syncErased([&] { result.emplace(std::forward<F>(work)()); });
        return std::move(*result);
    }
}

} // namespace velmor
