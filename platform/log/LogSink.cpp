#include "platform/log/LogSink.hpp"

#include "platform/log/JournalSink.hpp"
#include "platform/log/StderrSink.hpp"

#include <cstdlib>
#include <cstring>
#include <mutex>

namespace velmor::log {

int journalPriority(LogType type) {
    switch (type) {
    case LogType::debug:
        return 7;
    case LogType::info:
        return 6;
    case LogType::default_:
        return 5;
    case LogType::error:
        return 3;
    }
    return 5;
}

const char* logTypeName(LogType type) {
    switch (type) {
    case LogType::debug:
        return "debug";
    case LogType::info:
        return "info";
    case LogType::default_:
        return "default";
    case LogType::error:
        return "error";
    }
    return "default";
}

bool debugEnabledByEnvironment() {
    const char* value = std::getenv("VELMOR_LOG_DEBUG");
    return value != nullptr && std::strcmp(value, "1") == 0;
}

namespace {

std::mutex sharedSinkMutex;
std::shared_ptr<LogSink>& sharedSinkSlot() {
    static std::shared_ptr<LogSink> sink;
    return sink;
}

std::shared_ptr<LogSink> makeDefaultSink() {
    bool debug = debugEnabledByEnvironment();
    auto stderrSink = std::make_shared<StderrSink>(debug);
    if (JournalSink::isAvailable()) {
        return std::make_shared<JournalSink>(debug, stderrSink);
    }
    return stderrSink;
}

} // namespace

std::shared_ptr<LogSink> LogSink::shared() {
    std::lock_guard lock(sharedSinkMutex);
    auto& slot = sharedSinkSlot();
    if (!slot) {
        slot = makeDefaultSink();
    }
    return slot;
}

std::shared_ptr<LogSink> LogSink::install(std::shared_ptr<LogSink> sink) {
    std::lock_guard lock(sharedSinkMutex);
    auto previous = std::move(sharedSinkSlot());
    sharedSinkSlot() = std::move(sink);
    return previous;
}

} // namespace velmor::log
