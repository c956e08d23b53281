#pragma once

#include "foundation/core/log/LogMessage.hpp"

namespace sweepkit {

// The logging interface of the SDK. Each message is evaluated only when the logger writes it.
class SweepKitLogger {
public:
    virtual ~SweepKitLogger() = default;
    virtual void debug(velmor::LogMessage message) const = 0;
    virtual void info(velmor::LogMessage message) const = 0;
    virtual void error(velmor::LogMessage message) const = 0;
    virtual void default_(velmor::LogMessage message) const = 0;
};

} // namespace sweepkit
