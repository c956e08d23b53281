#pragma once

#include "platform/log/LogSink.hpp"

#include <string>

namespace velmor::log {

// Writes to the systemd journal: MESSAGE, PRIORITY, SUBSYSTEM and CATEGORY fields. A message the
// journal refuses goes to the fallback sink instead of being lost.
class JournalSink : public LogSink {
public:
    static constexpr const char* defaultSocketPath = "/run/systemd/journal/socket";

    JournalSink(bool debugEnabled, std::shared_ptr<LogSink> fallback);

    // Whether a journal listens at `socketPath`.
    static bool isAvailable(const std::string& socketPath = defaultSocketPath);

    bool isEnabled(LogType type) const override { return type != LogType::debug || debugEnabled_; }
    void write(std::string_view subsystem, std::string_view category, LogType type,
               std::string_view message) override;

private:
    bool debugEnabled_;
    std::shared_ptr<LogSink> fallback_;
};

} // namespace velmor::log
