#pragma once

#include "platform/error/Error.hpp"

namespace velmor {

// Part of the library's interface for callers that need an error of their own for a retry; nothing
// here raises it.
enum class RetryError { unexpectedError };

template <> struct ErrorDomain<RetryError> {
    static constexpr const char* value = "VelmorFoundation.RetryError";
};

} // namespace velmor
