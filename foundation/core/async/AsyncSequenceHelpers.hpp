#pragma once

#include "platform/concurrency/AsyncSequence.hpp"
#include "platform/concurrency/Task.hpp"

#include <exception>
#include <optional>
#include <type_traits>
#include <utility>

namespace velmor {

// Reads `sequence` to its end and returns its last element, or nothing when it had none. An error
// of the sequence goes on unchanged. Never returns for a sequence that does not end.
template <AsyncSequence S> std::optional<AsyncSequenceElement<S>> last(S sequence) {
    auto iterator = sequence.makeAsyncIterator();
    std::optional<AsyncSequenceElement<S>> kept;
    while (auto element = iterator.next()) {
        kept.reset();
        kept.emplace(std::move(*element));
    }
    return kept;
}

namespace detail {

// The task of both `observe` forms: `deliver(element, errorHandler)` takes each element and returns
// false when it found the task cancelled, which ends the observation without another call.
template <typename S, typename Deliver, typename OnError, typename OnCompletion>
Task<void> observeWith(S sequence, Deliver deliver, OnError errorHandler, OnCompletion completionHandler) {
    return Task<void>::start([sequence = std::move(sequence), deliver = std::move(deliver),
                              errorHandler = std::move(errorHandler),
                              completionHandler = std::move(completionHandler)]() mutable {
        auto iterator = sequence.makeAsyncIterator();
        for (;;) {
            std::exception_ptr error;
            auto element = nextCatching(iterator, error);
            if (error) {
                errorHandler(error);
                completionHandler();
                return;
            }
            if (!element) {
                completionHandler();
                return;
            }
            if (AnyTask::isCancelled() || !deliver(std::move(*element), errorHandler)) {
                return;
            }
        }
    });
}

} // namespace detail

// Reads a copy of `sequence` on a task of its own and returns that task's handle at once. Each
// element goes to `resultHandler`, one at a time, and the next one is asked for only when the
// handler has returned. The end calls `completionHandler`; an error calls `errorHandler`, then
// `completionHandler`. Handlers run on the task's thread (one that belongs on the main thread
// enters it with `MainActor::run`) and must not throw: the observation would end with their error.
//
// Cancelling the handle interrupts neither a handler nor a waiting `next()`: an element that then
// arrives is dropped and no handler is called any more. A sequence that ends or throws because
// the task was cancelled (as a stream does) is reported as its end or its error.
template <AsyncSequence S, typename OnResult, typename OnError, typename OnCompletion>
    requires(!AsyncSequence<AsyncSequenceElement<S>>) && std::is_invocable_v<OnResult&, AsyncSequenceElement<S>> &&
            std::is_invocable_v<OnError&, std::exception_ptr> && std::is_invocable_v<OnCompletion&>
Task<void> observe(S sequence, OnResult resultHandler, OnError errorHandler, OnCompletion completionHandler) {
    return detail::observeWith(
        std::move(sequence),
        [resultHandler = std::move(resultHandler)](AsyncSequenceElement<S>&& element, OnError&) mutable {
            resultHandler(std::move(element));
            return true;
        },
        std::move(errorHandler), std::move(completionHandler));
}

// `observe` for a sequence of sequences: the inner sequences are read one after the other, each to
// its end, and their elements go to `resultHandler`. An inner sequence's error goes to
// `errorHandler` and the observation goes on with the next inner sequence; only the outer
// sequence's end or error calls `completionHandler`.
template <AsyncSequence S, typename OnResult, typename OnError, typename OnCompletion>
    requires AsyncSequence<AsyncSequenceElement<S>> &&
             std::is_invocable_v<OnResult&, AsyncSequenceElement<AsyncSequenceElement<S>>> &&
             std::is_invocable_v<OnError&, std::exception_ptr> && std::is_invocable_v<OnCompletion&>
Task<void> observe(S sequence, OnResult resultHandler, OnError errorHandler, OnCompletion completionHandler) {
    return detail::observeWith(
        std::move(sequence),
        [resultHandler = std::move(resultHandler)](AsyncSequenceElement<S>&& inner, OnError& errorHandler) mutable {
            auto iterator = inner.makeAsyncIterator();
            for (;;) {
                std::exception_ptr error;
                auto element = detail::nextCatching(iterator, error);
                if (error) {
                    errorHandler(error);
                    return true;
                }
                if (!element) {
                    return true;
                }
                if (AnyTask::isCancelled()) {
                    return false;
                }
                resultHandler(std::move(*element));
            }
        },
        std::move(errorHandler), std::move(completionHandler));
}

} // namespace velmor
