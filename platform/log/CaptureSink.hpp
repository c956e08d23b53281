#pragma once

#include "platform/log/LogSink.hpp"

#include <mutex>
#include <set>
#include <string>
#include <vector>

namespace velmor::log {

// Keeps every message in memory, for tests. A disabled level reports itself as such and drops what
// is written at it, to show how callers react.
class CaptureSink : public LogSink {
public:
    struct Entry {
        std::string subsystem;
        std::string category;
        LogType type;
        std::string message;
        friend bool operator==(const Entry&, const Entry&) = default;
    };

    void setEnabled(LogType type, bool enabled);
    std::vector<Entry> entries() const;
    void clear();

    bool isEnabled(LogType type) const override;
    void write(std::string_view subsystem, std::string_view category, LogType type,
               std::string_view message) override;

private:
    mutable std::mutex mutex_;
    std::set<LogType> disabled_;
    std::vector<Entry> entries_;
};

} // namespace velmor::log
