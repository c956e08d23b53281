#include "foundation/core/log/ConfigurableLogger.hpp"

namespace velmor {

std::optional<ConfigurableLogger::LogLevel> ConfigurableLogger::logLevel(int rawValue) {
    if (rawValue < static_cast<int>(LogLevel::disabled) || rawValue > static_cast<int>(LogLevel::debug)) {
        return std::nullopt;
    }
    return static_cast<LogLevel>(rawValue);
}

void ConfigurableLogger::debug(LogMessage message) const {
    if (writes(LogLevel::debug)) {
        logger_->debug(message);
    }
}

void ConfigurableLogger::info(LogMessage message) const {
    if (writes(LogLevel::info)) {
        logger_->info(message);
    }
}

void ConfigurableLogger::default_(LogMessage message) const {
    if (writes(LogLevel::default_)) {
        logger_->info(message);
    }
}

void ConfigurableLogger::error(LogMessage message) const {
    if (writes(LogLevel::error)) {
        logger_->error(message);
    }
}

} // namespace velmor
