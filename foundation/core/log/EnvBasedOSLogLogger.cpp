#include "foundation/core/log/EnvBasedOSLogLogger.hpp"

#include "foundation/core/log/OSLogLogger.hpp"

#include <cstdlib>
#include <string_view>

namespace velmor {

EnvBasedOSLogLogger::EnvBasedOSLogLogger(const std::string& category)
    : logger_(OSLogLogger::makeHandle(category)), level_(levelFromEnvironment(category)) {}

EnvBasedOSLogLogger::LogLevel EnvBasedOSLogLogger::levelFromEnvironment(const std::string& category) {
    const char* text = std::getenv(("LogLevel-" + category).c_str());
    if (text == nullptr) {
        text = std::getenv("LogLevel");
    }
    if (text == nullptr) {
        return LogLevel::error;
    }
    std::string_view level = text;
    if (level == "none") {
        return LogLevel::none;
    }
    if (level == "debug") {
        return LogLevel::debug;
    }
    if (level == "info") {
        return LogLevel::info;
    }
    return LogLevel::error;
}

LoggerFactory EnvBasedOSLogLogger::factory() {
    return [](const std::string& category) { return std::make_shared<EnvBasedOSLogLogger>(category); };
}

void EnvBasedOSLogLogger::write(LogLevel needed, log::LogType type, const LogMessage& message) const {
    if (level_ < needed) {
        return;
    }
    logger_.write(type, message());
}

void EnvBasedOSLogLogger::debug(LogMessage message) const {
    write(LogLevel::debug, log::LogType::debug, message);
}

void EnvBasedOSLogLogger::info(LogMessage message) const {
    write(LogLevel::info, log::LogType::info, message);
}

void EnvBasedOSLogLogger::default_(LogMessage message) const {
    write(LogLevel::default_, log::LogType::default_, message);
}

void EnvBasedOSLogLogger::error(LogMessage message) const {
    write(LogLevel::error, log::LogType::error, message);
}

} // namespace velmor
