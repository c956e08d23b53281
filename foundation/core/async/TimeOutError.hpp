#pragma once

#include "platform/error/Error.hpp"

namespace velmor {

// Thrown by `withTimeout` when the time ran out before the operation delivered. Any two are equal.
class TimeOutError : public ComponentError {
public:
    static constexpr const char* domain = "velmor.TimeOutError";
    Error toError() const override { return Error(domain, 0); }
    friend bool operator==(const TimeOutError&, const TimeOutError&) { return true; }
};

} // namespace velmor
