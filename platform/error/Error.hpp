#pragma once

#include <cerrno>
#include <cstdint>
#include <exception>
#include <map>
#include <memory>
#include <string>
#include <variant>

namespace velmor {

class Error;

// A value stored under a user-info key: text, an integer, or a nested error (the underlying error).
using UserInfoValue = std::variant<std::string, std::int64_t, std::shared_ptr<const Error>>;
using UserInfo = std::map<std::string, UserInfoValue>;

// A copyable error value: a domain, a code within it, and a dictionary of details.
class Error {
public:
    static constexpr const char* posixDomain = "NSPOSIXErrorDomain";
    // File operations report their failures in this domain, with the POSIX cause underneath.
    static constexpr const char* cocoaDomain = "NSCocoaErrorDomain";
    static constexpr const char* localizedDescriptionKey = "NSLocalizedDescription";
    static constexpr const char* localizedFailureReasonKey = "NSLocalizedFailureReason";
    static constexpr const char* underlyingErrorKey = "NSUnderlyingError";
    static constexpr const char* filePathKey = "NSFilePath";

    Error() = default;
    Error(std::string domain, std::int64_t code, UserInfo userInfo = {});

    // A POSIX error whose code is `code` when it is a known POSIX code, else `fallback`.
    static Error posix(int code, int fallback = ENOTSUP);
    // The same, carrying the path of the file the failure concerns.
    static Error posixForPath(int code, const std::string& path);
    static bool isKnownPosixCode(int code);

    const std::string& domain() const { return domain_; }
    std::int64_t code() const { return code_; }
    const UserInfo& userInfo() const { return userInfo_; }

    // The text a user would read: the localized description when one is given, the system's
    // message for POSIX codes, else a generic sentence naming the domain and the code.
    std::string description() const;

    const std::string* stringValue(const std::string& key) const;
    std::shared_ptr<const Error> underlyingError() const;

    friend bool operator==(const Error& a, const Error& b);

private:
    std::string domain_;
    std::int64_t code_ = 0;
    UserInfo userInfo_;
};

// Base of every error a component throws: it knows how to present itself as an `Error`.
class ComponentError : public std::exception {
public:
    virtual Error toError() const = 0;
    const char* what() const noexcept override;

private:
    mutable std::string what_;
};

// Thrown where an operation fails with a plain `Error` (system calls, decoded errors).
class ErrorException : public ComponentError {
public:
    explicit ErrorException(Error error) : error_(std::move(error)) {}
    Error toError() const override { return error_; }
    const Error& error() const { return error_; }

private:
    Error error_;
};

// Error enumerations without payloads: specialise `ErrorDomain<E>` with the enumeration's stable
// domain and throw `TypedError<E>{E::someCase}`. The code is the case's index.
template <typename E> struct ErrorDomain;

template <typename E> class TypedError : public ComponentError {
public:
    explicit TypedError(E value) : value_(value) {}
    E value() const { return value_; }
    Error toError() const override { return Error(ErrorDomain<E>::value, static_cast<std::int64_t>(value_)); }

private:
    E value_;
};

// The `Error` of any caught exception: component errors present themselves, other exceptions
// become an error of the C++ exception domain whose description is their message.
Error errorFromException(std::exception_ptr exception);

[[noreturn]] void throwPosixError(int code, int fallback = ENOTSUP);

} // namespace velmor
