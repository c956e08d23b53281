#pragma once

#include "foundation/core/log/Logger.hpp"

#include <mutex>
#include <set>
#include <string>
#include <vector>

namespace velmor::testing {

// A logger for tests: keeps every message it writes with its level ("error: ..."). Levels in
// `dropped` are filtered out like a disabled level, without evaluating the message.
class RecordingLogger : public Logger {
public:
    explicit RecordingLogger(std::set<std::string> dropped = {}) : dropped_(std::move(dropped)) {}

    void debug(LogMessage message) const override { record("debug", message); }
    void info(LogMessage message) const override { record("info", message); }
    void default_(LogMessage message) const override { record("default", message); }
    void error(LogMessage message) const override { record("error", message); }

    std::vector<std::string> lines() const {
        std::lock_guard lock(mutex_);
        return lines_;
    }

private:
    void record(const char* level, LogMessage message) const {
        if (dropped_.contains(level)) {
            return;
        }
        std::string line = std::string(level) + ": " + message();
        std::lock_guard lock(mutex_);
        lines_.push_back(std::move(line));
    }

    std::set<std::string> dropped_;
    mutable std::mutex mutex_;
    mutable std::vector<std::string> lines_;
};

} // namespace velmor::testing
