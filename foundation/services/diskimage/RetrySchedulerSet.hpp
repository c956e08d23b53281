#pragma once

#include "foundation/core/retry/RetryScheduler.hpp"

#include <memory>
#include <mutex>
#include <vector>

namespace velmor {

// The schedulers of a background retrier, one per piece of work still being retried, and whether
// the retrier has stopped. It keeps them alive; their attempts hold them only weakly, so removing
// one ends its work. Safe from any thread.
class RetrySchedulerSet {
public:
    // Keeps `scheduler`; false, and nothing kept, once stopped.
    bool add(std::shared_ptr<RetryScheduler> scheduler);
    void remove(const RetryScheduler& scheduler);
    // Books the scheduler's next timed attempt, unless stopped.
    void retry(RetryScheduler& scheduler);
    bool isStopped() const;
    // Stops: every pending pause is cancelled, the schedulers are let go and none is kept from now on.
    void shutdown();
    std::size_t size() const;

private:
    mutable std::mutex mutex_;
    std::vector<std::shared_ptr<RetryScheduler>> schedulers_;
    bool stopped_ = false;
};

} // namespace velmor
