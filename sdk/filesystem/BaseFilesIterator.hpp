#pragma once

#include "sdk/filesystem/Event.hpp"

#include <optional>

namespace sweepkit {

// A pull iterator of walk events. The base walks nothing: it is the seam where tests put a scripted
// sequence of events in front of the consumers.
class BaseFilesIterator {
public:
    BaseFilesIterator() = default;
    virtual ~BaseFilesIterator() = default;
    BaseFilesIterator(const BaseFilesIterator&) = delete;
    BaseFilesIterator& operator=(const BaseFilesIterator&) = delete;

    virtual std::optional<Event> next() { return std::nullopt; }
    // The next event put into `event`, which a walk may refill in place to spare the allocations
    // of a fresh one; false at the end. The same sequence as `next` gives.
    virtual bool advance(std::optional<Event>& event) {
        event = next();
        return event.has_value();
    }
    // Keeps the walk out of the directory most recently entered.
    virtual void skip() {}
};

} // namespace sweepkit
