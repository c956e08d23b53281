#pragma once

#include "foundation/core/log/Logger.hpp"
#include "sdk/finder/SweepKitLogger.hpp"

#include <memory>

namespace marrowdale {

// Lets the SDK write into a foundation logger. Messages pass through unevaluated, so one the
// parent filters out is never built.
class VelmorLoggerWrapper : public sweepkit::SweepKitLogger {
public:
    explicit VelmorLoggerWrapper(std::shared_ptr<const velmor::Logger> parentLogger)
        : parentLogger_(std::move(parentLogger)) {}

    const std::shared_ptr<const velmor::Logger>& parentLogger() const { return parentLogger_; }

    void debug(velmor::LogMessage message) const override { parentLogger_->debug(message); }
    void info(velmor::LogMessage message) const override { parentLogger_->info(message); }
    void error(velmor::LogMessage message) const override { parentLogger_->error(message); }
    void default_(velmor::LogMessage message) const override { parentLogger_->default_(message); }

private:
    std::shared_ptr<const velmor::Logger> parentLogger_;
};

} // namespace marrowdale
