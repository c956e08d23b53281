#pragma once

#include "foundation/core/log/Logger.hpp"

#include <memory>
#include <optional>

namespace velmor {

// Filters messages by a threshold and hands the rest, unevaluated, to the logger it wraps.
// `default_` messages go on as info.
class ConfigurableLogger : public Logger {
public:
    enum class LogLevel : int { disabled = 0, error = 1, default_ = 2, info = 3, debug = 4 };

    // The level of a raw value, nothing outside 0 to 4.
    static std::optional<LogLevel> logLevel(int rawValue);

    ConfigurableLogger(std::shared_ptr<const Logger> logger, LogLevel level)
        : logger_(std::move(logger)), level_(level) {}

    const std::shared_ptr<const Logger>& logger() const { return logger_; }
    LogLevel level() const { return level_; }

    void debug(LogMessage message) const override;
    void info(LogMessage message) const override;
    void default_(LogMessage message) const override;
    void error(LogMessage message) const override;

private:
    bool writes(LogLevel needed) const { return level_ >= needed; }

    std::shared_ptr<const Logger> logger_;
    LogLevel level_;
};

} // namespace velmor
