#include "foundation/core/log/OSLogLogger.hpp"

namespace velmor {

std::string OSLogLogger::subsystem(const Bundle& bundle) {
    return bundle.bundleIdentifier().value_or(genericSubsystem);
}

log::OSLog OSLogLogger::makeHandle(const std::string& category) {
    return log::OSLog(subsystem(Bundle::main()), category);
}

LoggerFactory OSLogLogger::factory() {
    return [](const std::string& category) { return std::make_shared<OSLogLogger>(category); };
}

void OSLogLogger::debug(LogMessage message) const {
    if (!logger_.isEnabled(log::LogType::debug)) {
        return;
    }
    logger_.write(log::LogType::debug, message());
}

void OSLogLogger::info(LogMessage message) const {
    logger_.write(log::LogType::info, message());
}

void OSLogLogger::default_(LogMessage message) const {
    logger_.write(log::LogType::default_, message());
}

void OSLogLogger::error(LogMessage message) const {
    logger_.write(log::LogType::error, message());
}

} // namespace velmor
