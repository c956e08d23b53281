#pragma once

#include "foundation/core/log/Logger.hpp"
#include "platform/bundle/Bundle.hpp"
#include "platform/log/OSLog.hpp"

namespace velmor {

// Writes every level to the system log under the main bundle's identifier and the given category.
// Only debug asks first whether its level is kept; the other levels always build their message and
// leave the dropping to the log.
class OSLogLogger : public Logger {
public:
    static constexpr const char* genericSubsystem = "com.velmor.generic";

    explicit OSLogLogger(const std::string& category) : logger_(makeHandle(category)) {}

    // The bundle's identifier, else the generic subsystem.
    static std::string subsystem(const Bundle& bundle);
    // A log handle for `category` under the main bundle's subsystem.
    static log::OSLog makeHandle(const std::string& category);
    // The standard factory of the application: one logger per category.
    static LoggerFactory factory();

    const log::OSLog& logger() const { return logger_; }

    void debug(LogMessage message) const override;
    void info(LogMessage message) const override;
    void default_(LogMessage message) const override;
    void error(LogMessage message) const override;

private:
    log::OSLog logger_;
};

} // namespace velmor
