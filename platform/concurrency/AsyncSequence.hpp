#pragma once

#include <concepts>
#include <exception>
#include <optional>
#include <type_traits>
#include <utility>

namespace velmor {

namespace detail {
template <typename T> struct IsOptional : std::false_type {};
template <typename T> struct IsOptional<std::optional<T>> : std::true_type {};
} // namespace detail

// The iterator that `makeAsyncIterator()` of a sequence hands out.
template <typename S> using AsyncIteratorOf = decltype(std::declval<S&>().makeAsyncIterator());

// A copyable value that hands out iterators, each an iteration of its own (a stream has one
// consumer, so its iterators share it). The iterator's `next()` may wait; it returns the next
// element, nothing at the end, or throws the sequence's error.
template <typename S>
concept AsyncSequence = std::copy_constructible<S> && requires(S& sequence) { sequence.makeAsyncIterator(); } &&
                        requires(AsyncIteratorOf<S>& iterator) {
                            requires detail::IsOptional<decltype(iterator.next())>::value;
                        };

template <AsyncSequence S>
using AsyncSequenceElement = typename decltype(std::declval<AsyncIteratorOf<S>&>().next())::value_type;

namespace detail {

// The next element of `iterator`, or nothing with `error` set to what `next()` threw.
template <typename Iterator> auto nextCatching(Iterator& iterator, std::exception_ptr& error) -> decltype(iterator.next()) {
    try {
        return iterator.next();
    } catch (...) {
        error = std::current_exception();
        return std::nullopt;
    }
}

} // namespace detail

} // namespace velmor
