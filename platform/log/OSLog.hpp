#pragma once

#include "platform/log/LogSink.hpp"

#include <memory>
#include <string>

namespace velmor::log {

// A log handle for one subsystem and category. It keeps the sink that was shared when it was made.
class OSLog {
public:
    OSLog(std::string subsystem, std::string category, std::shared_ptr<LogSink> sink = LogSink::shared())
        : subsystem_(std::move(subsystem)), category_(std::move(category)), sink_(std::move(sink)) {}

    const std::string& subsystem() const { return subsystem_; }
    const std::string& category() const { return category_; }

    bool isEnabled(LogType type) const { return sink_->isEnabled(type); }
    // Writes the message as it is: nothing in it is read as a format or redacted.
    void write(LogType type, std::string_view message) const {
        sink_->write(subsystem_, category_, type, message);
    }

private:
    std::string subsystem_;
    std::string category_;
    std::shared_ptr<LogSink> sink_;
};

} // namespace velmor::log
