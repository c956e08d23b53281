#include "foundation/core/retry/RetryScheduler.hpp"

#include "platform/dispatch/DispatchTimer.hpp"
#include "platform/dispatch/TimerService.hpp"

#include <cmath>
#include <mutex>

namespace velmor {

std::shared_ptr<RetryScheduler> RetryScheduler::make(double retryBaseTimeInterval, double maximalRetryTimeInterval,
                                                     DelayAlgorithm delayAlgorithm,
                                                     std::optional<SerialQueue> dispatchQueue) {
    double first = std::fabs(retryBaseTimeInterval);
    double second = std::fabs(maximalRetryTimeInterval);
    // fmin and fmax pass over a not-a-number operand.
    return std::shared_ptr<RetryScheduler>(new RetryScheduler(std::fmin(first, second), std::fmax(first, second),
                                                              delayAlgorithm, std::move(dispatchQueue)));
}

RetryScheduler::RetryScheduler(double base, double maximum, DelayAlgorithm delayAlgorithm,
                               std::optional<SerialQueue> dispatchQueue)
    : retryBaseTimeInterval_(base), maximalRetryTimeInterval_(maximum), delayAlgorithm_(delayAlgorithm),
      schedulerDispatchQueue_(std::move(dispatchQueue)) {}

// A pending timer holds the scheduler, so none is left here.
RetryScheduler::~RetryScheduler() = default;

std::int64_t RetryScheduler::counter() const {
    std::lock_guard lock(mutex_);
    return counter_;
}

void RetryScheduler::setCounter(std::int64_t counter) {
    std::lock_guard lock(mutex_);
    counter_ = counter;
}

void RetryScheduler::incrementCounter(std::uint64_t amount) {
    std::lock_guard lock(mutex_);
    std::int64_t sum;
    counter_ = __builtin_add_overflow(counter_, amount, &sum) ? std::numeric_limits<std::int64_t>::max() : sum;
}

std::vector<Error> RetryScheduler::errors() const {
    std::lock_guard lock(mutex_);
    return errors_;
}

void RetryScheduler::setErrors(std::vector<Error> errors) {
    std::lock_guard lock(mutex_);
    errors_ = std::move(errors);
}

RetryScheduler::RetryBlock RetryScheduler::retryBlock() const {
    std::lock_guard lock(mutex_);
    return retryBlock_;
}

void RetryScheduler::setRetryBlock(RetryBlock retryBlock) {
    RetryBlock replaced;
    std::lock_guard lock(mutex_);
    replaced = std::exchange(retryBlock_, std::move(retryBlock));
}

void RetryScheduler::attempt() {
    RetryBlock block = retryBlock();
    std::optional<Error> error = block ? block() : std::nullopt;
    std::lock_guard lock(mutex_);
    if (error) {
        errors_.push_back(std::move(*error));
    }
    if (counter_ < std::numeric_limits<std::int64_t>::max()) {
        ++counter_;
    }
}

void RetryScheduler::try_() {
    if (schedulerDispatchQueue_) {
        schedulerDispatchQueue_->async([self = shared_from_this()] { self->attempt(); });
    } else {
        attempt();
    }
}

double RetryScheduler::delayFor(std::int64_t counter) const {
    double delay = 0;
    switch (delayAlgorithm_) {
    case DelayAlgorithm::twoPowerOfCounter:
        // Not a number when a base of 0 meets a power that overflowed: made 0 below.
        delay = std::min(retryBaseTimeInterval_ * std::pow(2.0, static_cast<double>(counter)),
                         maximalRetryTimeInterval_);
        break;
    case DelayAlgorithm::constant:
        delay = retryBaseTimeInterval_;
        break;
    case DelayAlgorithm::force1s:
        delay = 1.0;
        break;
    }
    return boundedDelay(delay);
}

double RetryScheduler::retry() {
    std::lock_guard lock(mutex_);
    if (scheduler_) {
        return nextScheduleInterval_;
    }
    const double delay = delayFor(counter_);
    nextScheduleInterval_ = delay;
    const std::uint64_t booking = ++booking_;
    auto timer = std::make_unique<DispatchTimer>(schedulerDispatchQueue_);
    timer->setEventHandler([self = shared_from_this(), booking] { self->timerFired(booking); });
    timer->schedule(delay, std::nullopt, retryLeeway(delay));
    timer->resume();
    scheduler_ = std::move(timer);
    return delay;
}

void RetryScheduler::timerFired(std::uint64_t booking) {
    std::unique_ptr<DispatchTimer> fired;
    {
        std::lock_guard lock(mutex_);
        // A cancelled booking whose call was already on its way: it must not run.
        if (!scheduler_ || booking != booking_) {
            return;
        }
        fired = std::move(scheduler_);
        nextScheduleInterval_ = std::numeric_limits<double>::infinity();
    }
    fired->cancel();
    // Cleared before the attempt, so that a failing attempt's `retry()` books the next one.
    fired.reset();
    attempt();
}

double retryLeeway(double delay) {
    // The bounded delay converts to an integer safely.
    return static_cast<double>(static_cast<std::int64_t>(boundedDelay(delay)) / 10);
}

void RetryScheduler::cancelRetry() {
    std::unique_ptr<DispatchTimer> cancelled;
    {
        std::lock_guard lock(mutex_);
        cancelled = std::move(scheduler_);
        nextScheduleInterval_ = std::numeric_limits<double>::infinity();
    }
    // Outside the lock: destroying the timer waits for a firing that is already running, and that
    // firing takes the lock.
    cancelled.reset();
}

} // namespace velmor
