#pragma once

#include "platform/error/Error.hpp"
#include "platform/error/Exception.hpp"

#include <functional>

namespace velmor {

// Runs code that may raise an `Exception` and hands the failure back as an `Error`. Any other
// C++ exception passes through unchanged.
class Objc {
public:
    // Where the exception's reason goes when its details already hold a failure reason.
    static constexpr const char* privateFailureReasonKey = "VelmorPrivateNSLocalizedFailureReasonErrorKey";

    // Runs `block` once. True when it returned; false when it raised an `Exception`, which is then
    // stored in `error` (left untouched on success).
    static bool throwing(const std::function<void()>& block, Error& error);
    // The same, throwing the converted error as an `ErrorException`.
    static void throwing(const std::function<void()>& block);

    // Domain = the exception's name, code 0, the exception's details with its reason as the
    // failure reason (or beside an existing one).
    static Error errorFromException(const Exception& exception);
};

} // namespace velmor
