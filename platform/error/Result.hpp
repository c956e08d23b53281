#pragma once

#include "platform/error/Error.hpp"

#include <utility>
#include <variant>

namespace velmor {

// The outcome of an operation that reports its failure as a value: either a `T` or an `Error`.
template <typename T> class Result {
public:
    static Result success(T value) { return Result(std::in_place_index<0>, std::move(value)); }
    static Result failure(Error error) { return Result(std::in_place_index<1>, std::move(error)); }

    bool isSuccess() const { return outcome_.index() == 0; }
    // Only for a success.
    const T& value() const { return std::get<0>(outcome_); }
    T& value() { return std::get<0>(outcome_); }
    // Only for a failure.
    const Error& error() const { return std::get<1>(outcome_); }

    // The value, or the error thrown as an `ErrorException`.
    T get() const {
        if (!isSuccess()) {
            throw ErrorException(error());
        }
        return value();
    }

    friend bool operator==(const Result& a, const Result& b) { return a.outcome_ == b.outcome_; }

private:
    template <std::size_t I, typename V>
    Result(std::in_place_index_t<I> index, V&& v) : outcome_(index, std::forward<V>(v)) {}
    std::variant<T, Error> outcome_;
};

template <> class Result<void> {
public:
    static Result success() { return Result(); }
    static Result failure(Error error) {
        Result result;
        result.error_ = std::move(error);
        result.failed_ = true;
        return result;
    }

    bool isSuccess() const { return !failed_; }
    // Only for a failure.
    const Error& error() const { return error_; }
    void get() const {
        if (failed_) {
            throw ErrorException(error_);
        }
    }

    friend bool operator==(const Result& a, const Result& b) {
        return a.failed_ == b.failed_ && (!a.failed_ || a.error_ == b.error_);
    }

private:
    Result() = default;
    bool failed_ = false;
    Error error_;
};

} // namespace velmor
