#pragma once

#include "foundation/core/log/Logger.hpp"
#include "platform/log/OSLog.hpp"

#include <cstdint>

namespace velmor {

// Writes to the system log up to a threshold read from the environment once, when it is made:
// "LogLevel-<category>", else "LogLevel", else error only.
class EnvBasedOSLogLogger : public Logger {
public:
    enum class LogLevel : std::uint8_t { none = 0, error = 1, default_ = 2, info = 3, debug = 4 };

    explicit EnvBasedOSLogLogger(const std::string& category);

    // The threshold the environment gives `category` now. Only "none", "debug", "info" and "error",
    // spelled exactly, are recognised; any other text reads as error.
    static LogLevel levelFromEnvironment(const std::string& category);
    // The standard factory of the system services: one logger per category.
    static LoggerFactory factory();

    const log::OSLog& logger() const { return logger_; }
    LogLevel level() const { return level_; }

    void debug(LogMessage message) const override;
    void info(LogMessage message) const override;
    void default_(LogMessage message) const override;
    void error(LogMessage message) const override;

private:
    void write(LogLevel needed, log::LogType type, const LogMessage& message) const;

    log::OSLog logger_;
    LogLevel level_;
};

} // namespace velmor
