#pragma once

#include "foundation/core/log/OSLogLogger.hpp"
#include "sdk/finder/SweepKitLogger.hpp"

#include <memory>

namespace sweepkit {

// Lets a system-log logger of the foundation serve as the SDK's logger: each message closure goes
// to the operation of the same name unchanged, so it is still evaluated only when written.
class OSLogLoggerAdapter : public SweepKitLogger {
public:
    explicit OSLogLoggerAdapter(std::shared_ptr<const velmor::OSLogLogger> logger)
        : logger_(std::move(logger)) {}

    const std::shared_ptr<const velmor::OSLogLogger>& logger() const { return logger_; }

    void debug(velmor::LogMessage message) const override { logger_->debug(message); }
    void info(velmor::LogMessage message) const override { logger_->info(message); }
    void error(velmor::LogMessage message) const override { logger_->error(message); }
    void default_(velmor::LogMessage message) const override { logger_->default_(message); }

private:
    std::shared_ptr<const velmor::OSLogLogger> logger_;
};

} // namespace sweepkit
