#pragma once

#include "platform/log/LogSink.hpp"

#include <string>

namespace velmor::log {

// Writes one line per message to a file descriptor (standard error unless told otherwise):
// "<subsystem> [<category>] <type>: <message>".
class StderrSink : public LogSink {
public:
    explicit StderrSink(bool debugEnabled, int fd = 2) : debugEnabled_(debugEnabled), fd_(fd) {}

    static std::string formatLine(std::string_view subsystem, std::string_view category, LogType type,
                                  std::string_view message);

    bool isEnabled(LogType type) const override { return type != LogType::debug || debugEnabled_; }
    void write(std::string_view subsystem, std::string_view category, LogType type,
               std::string_view message) override;

private:
    bool debugEnabled_;
    int fd_;
};

} // namespace velmor::log
