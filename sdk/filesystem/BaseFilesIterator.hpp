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
    // Whether the record of the last event given was read from the file system just now, with one
    // `statx` that asked for the birth time and did not follow a final link, so that it holds the
    // entry's current dates. False here: scripted events carry whatever record they were given.
    virtual bool lastRecordIsCurrent() const { return false; }
};

} // namespace sweepkit
