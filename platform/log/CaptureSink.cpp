#include "platform/log/CaptureSink.hpp"

namespace velmor::log {

void CaptureSink::setEnabled(LogType type, bool enabled) {
    std::lock_guard lock(mutex_);
    if (enabled) {
        disabled_.erase(type);
    } else {
        disabled_.insert(type);
    }
}

std::vector<CaptureSink::Entry> CaptureSink::entries() const {
    std::lock_guard lock(mutex_);
    return entries_;
}

void CaptureSink::clear() {
    std::lock_guard lock(mutex_);
    entries_.clear();
}

bool CaptureSink::isEnabled(LogType type) const {
    std::lock_guard lock(mutex_);
    return !disabled_.contains(type);
}

void CaptureSink::write(std::string_view subsystem, std::string_view category, LogType type,
                        std::string_view message) {
    std::lock_guard lock(mutex_);
    // A disabled level is dropped here, the way the system log drops what it is configured not to keep.
    if (disabled_.contains(type)) {
        return;
    }
    entries_.push_back({std::string(subsystem), std::string(category), type, std::string(message)});
}

} // namespace velmor::log
