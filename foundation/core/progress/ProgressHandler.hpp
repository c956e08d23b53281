#pragma once

namespace velmor {

// What long work reports its progress through, so that it neither knows nor pays for the progress
// object that an interface observes.
class ProgressHandler {
public:
    virtual ~ProgressHandler() = default;

    // Whether the work should stop.
    virtual bool isCancelled() const = 0;
    // One more unit of work is known.
    virtual void incrementTotalUnitCount() = 0;
    // One more unit of work is done.
    virtual void incrementCompletedUnitCount() = 0;
    // The work has ended: bring the reported figures up to date.
    virtual void completed() = 0;
};

} // namespace velmor
