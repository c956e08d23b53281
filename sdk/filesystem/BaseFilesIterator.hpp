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
    // Keeps the walk out of the directory most recently entered.
    virtual void skip() {}
};

} // namespace sweepkit
