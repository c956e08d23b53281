#include "foundation/services/diskimage/RetrySchedulerSet.hpp"

namespace velmor {

bool RetrySchedulerSet::add(std::shared_ptr<RetryScheduler> scheduler) {
    std::lock_guard lock(mutex_);
    if (stopped_) {
        return false;
    }
    schedulers_.push_back(std::move(scheduler));
    return true;
}

void RetrySchedulerSet::remove(const RetryScheduler& scheduler) {
    std::lock_guard lock(mutex_);
    std::erase_if(schedulers_, [&](const auto& each) { return each->id() == scheduler.id(); });
}

void RetrySchedulerSet::retry(RetryScheduler& scheduler) {
    // Under the lock, so that a shutdown cannot slip in between the check and the booking.
    std::lock_guard lock(mutex_);
    if (!stopped_) {
        scheduler.retry();
    }
}

bool RetrySchedulerSet::isStopped() const {
    std::lock_guard lock(mutex_);
    return stopped_;
}

void RetrySchedulerSet::shutdown() {
    std::vector<std::shared_ptr<RetryScheduler>> schedulers;
    {
        std::lock_guard lock(mutex_);
        stopped_ = true;
        schedulers.swap(schedulers_);
    }
    for (const auto& scheduler : schedulers) {
        scheduler->cancelRetry();
    }
}

std::size_t RetrySchedulerSet::size() const {
    std::lock_guard lock(mutex_);
    return schedulers_.size();
}

} // namespace velmor
