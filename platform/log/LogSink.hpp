#pragma once

#include <cstdint>
#include <memory>
#include <string_view>

namespace velmor::log {

// The four kinds of log message, from the most to the least verbose.
enum class LogType : std::uint8_t { debug, info, default_, error };

// The journal priority a message of `type` is written with (debug 7, info 6, default 5, error 3).
int journalPriority(LogType type);
// "debug", "info", "default" or "error".
const char* logTypeName(LogType type);

// Where log messages go. Implementations are shared between threads: both operations may be called
// concurrently.
class LogSink {
public:
    virtual ~LogSink() = default;
    virtual bool isEnabled(LogType type) const = 0;
    virtual void write(std::string_view subsystem, std::string_view category, LogType type,
                       std::string_view message) = 0;

    // The process-wide sink that new log handles write to. The first call picks the journal when its
    // socket exists, else standard error.
    static std::shared_ptr<LogSink> shared();
    // Replaces the process-wide sink and returns the previous one. Handles made before keep the sink
    // they were made with.
    static std::shared_ptr<LogSink> install(std::shared_ptr<LogSink> sink);
};

// Whether debug messages are kept. Like the system log, debug output is off unless asked for: the
// environment variable VELMOR_LOG_DEBUG set to "1" when the sink is made turns it on.
bool debugEnabledByEnvironment();

} // namespace velmor::log
