#pragma once

#include "platform/error/Error.hpp"

namespace velmor {

// Thrown where a cancelled task stops: `Task<>::checkCancellation()`, a cancelled sleep.
class CancellationError : public ComponentError {
public:
    static constexpr const char* domain = "velmor.CancellationError";
    Error toError() const override { return Error(domain, 0); }
};

} // namespace velmor
