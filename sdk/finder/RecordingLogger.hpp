#pragma once

#include "sdk/finder/SweepKitLogger.hpp"

#include <mutex>
#include <string>
#include <vector>

namespace sweepkit::testing {

// Keeps every message with its level ("debug: ..."), for tests that check what was logged.
class RecordingLogger : public SweepKitLogger {
public:
    void debug(velmor::LogMessage message) const override { record("debug", message); }
    void info(velmor::LogMessage message) const override { record("info", message); }
    void error(velmor::LogMessage message) const override { record("error", message); }
    void default_(velmor::LogMessage message) const override { record("default", message); }

    std::vector<std::string> lines() const {
        std::lock_guard lock(mutex_);
        return lines_;
    }

private:
    void record(const char* level, velmor::LogMessage message) const {
        std::string line = std::string(level) + ": " + message();
        std::lock_guard lock(mutex_);
        lines_.push_back(std::move(line));
    }

    mutable std::mutex mutex_;
    mutable std::vector<std::string> lines_;
};

} // namespace sweepkit::testing
