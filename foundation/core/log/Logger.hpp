#pragma once

#include "foundation/core/log/LogMessage.hpp"

#include <functional>
#include <memory>
#include <string>

namespace velmor {

// The logging interface every component writes through. Each operation evaluates its message at
// most once, and only when the logger writes it. Loggers are immutable and may be called from any
// thread.
class Logger {
public:
    virtual ~Logger() = default;
    virtual void debug(LogMessage message) const = 0;
    virtual void info(LogMessage message) const = 0;
    virtual void default_(LogMessage message) const = 0;
    virtual void error(LogMessage message) const = 0;
};

// Makes the logger of a category.
using LoggerFactory = std::function<std::shared_ptr<Logger>(const std::string& category)>;

} // namespace velmor
