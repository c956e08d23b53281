#pragma once

#include "platform/concurrency/AsyncSequence.hpp"
#include "platform/concurrency/Task.hpp"

#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>

namespace velmor {

// Why a stream ended, as its termination handler hears it.
enum class StreamTermination { finished, cancelled };

namespace detail {

template <typename T> class StreamState {
public:
    bool yield(T value) {
        {
            std::lock_guard lock(mutex_);
            if (terminated_) {
                return false;
            }
            buffer_.push_back(std::move(value));
        }
        changed_.notify_all();
        return true;
    }

    void terminate(StreamTermination reason, std::exception_ptr error = nullptr) {
        std::function<void(StreamTermination)> handler;
        {
            std::lock_guard lock(mutex_);
            if (terminated_) {
                return;
            }
            terminated_ = true;
            reason_ = reason;
            error_ = std::move(error);
            if (reason == StreamTermination::cancelled) {
                buffer_.clear();
            }
            handler.swap(onTermination_);
        }
        changed_.notify_all();
        if (handler) {
            handler(reason);
        }
    }

    void setOnTermination(std::function<void(StreamTermination)> handler) {
        StreamTermination reason;
        {
            std::lock_guard lock(mutex_);
            if (!terminated_) {
                onTermination_ = std::move(handler);
                return;
            }
            reason = reason_;
        }
        // Already over: a handler set late still runs, once, and hears why it ended.
        handler(reason);
    }

    std::optional<T> next() {
        std::stop_token cancelled = currentStopToken();
        std::unique_lock lock(mutex_);
        if (buffer_.empty() && !terminated_) {
            checkNotBlockingMain("AsyncStream::next");
        }
        changed_.wait(lock, cancelled, [&] { return !buffer_.empty() || terminated_; });
        if (cancelled.stop_requested()) {
            lock.unlock();
            terminate(StreamTermination::cancelled);
            return std::nullopt;
        }
        if (!buffer_.empty()) {
            T value = std::move(buffer_.front());
            buffer_.pop_front();
            return value;
        }
        if (auto error = std::exchange(error_, nullptr)) {
            std::rethrow_exception(error);
        }
        return std::nullopt;
    }

private:
    std::mutex mutex_;
    std::condition_variable_any changed_;
    std::deque<T> buffer_;
    bool terminated_ = false;
    StreamTermination reason_ = StreamTermination::finished;
    std::exception_ptr error_;
    std::function<void(StreamTermination)> onTermination_;
};

// One side of a stream: when its last copy goes, the stream ends for that side's reason.
template <typename T> struct StreamSide {
    std::shared_ptr<StreamState<T>> state;
    StreamTermination reasonAtEnd;
    ~StreamSide() { state->terminate(reasonAtEnd); }
};

} // namespace detail

// A sequence fed by a producer through a continuation and read by one consumer with `next()`.
// It buffers without limit. The consumer gets the buffered elements, then the end (or, for a
// throwing stream, the error). When the consuming task is cancelled, `next()` ends the stream and
// returns nothing. The termination handler runs once: when the producer finishes, when the
// consumer is cancelled, or when either side drops its last copy (a dropped producer finishes the
// stream, a dropped consumer cancels it).
template <typename T, bool Throwing> class BasicAsyncStream {
public:
    class Continuation {
    public:
        // False, and the element dropped, once the stream has ended.
        bool yield(T value) const { return side_->state->yield(std::move(value)); }
        void finish() const { side_->state->terminate(StreamTermination::finished); }
        void finish(std::exception_ptr error) const requires Throwing {
            side_->state->terminate(StreamTermination::finished, std::move(error));
        }
        void onTermination(std::function<void(StreamTermination)> handler) const {
            side_->state->setOnTermination(std::move(handler));
        }

    private:
        friend class BasicAsyncStream;
        explicit Continuation(std::shared_ptr<detail::StreamState<T>> state)
            : side_(std::make_shared<detail::StreamSide<T>>(std::move(state), StreamTermination::finished)) {}
        std::shared_ptr<detail::StreamSide<T>> side_;
    };

    // Calls `build` at once with the stream's continuation.
    explicit BasicAsyncStream(const std::function<void(Continuation)>& build) : BasicAsyncStream() {
        build(Continuation(side_->state));
    }

    static std::pair<BasicAsyncStream, Continuation> makeStream() {
        BasicAsyncStream stream;
        Continuation continuation(stream.side_->state);
        return {std::move(stream), std::move(continuation)};
    }

    // The next element, waiting for it; nothing at the end or when the current task is cancelled.
    // A throwing stream rethrows its error once, after the buffered elements. On the main thread a
    // `next()` that has to wait is caught as a blocking wait.
    std::optional<T> next() { return side_->state->next(); }

    // Reads the stream as an asynchronous sequence. The stream has one consumer: its copies and
    // all their iterators share it, and it is cancelled once the last of them goes.
    class AsyncIterator {
    public:
        std::optional<T> next() { return side_->state->next(); }

    private:
        friend class BasicAsyncStream;
        explicit AsyncIterator(std::shared_ptr<detail::StreamSide<T>> side) : side_(std::move(side)) {}
        std::shared_ptr<detail::StreamSide<T>> side_;
    };
    AsyncIterator makeAsyncIterator() const { return AsyncIterator(side_); }

private:
    BasicAsyncStream()
        : side_(std::make_shared<detail::StreamSide<T>>(std::make_shared<detail::StreamState<T>>(),
                                                        StreamTermination::cancelled)) {}
    std::shared_ptr<detail::StreamSide<T>> side_;
};

template <typename T> using AsyncStream = BasicAsyncStream<T, false>;
template <typename T> using AsyncThrowingStream = BasicAsyncStream<T, true>;

} // namespace velmor
