#pragma once

#include "foundation/core/collections/NonRecursiveMutex.hpp"
#include "platform/dispatch/SerialQueue.hpp"
#include "platform/error/Error.hpp"
#include "platform/uuid/UUID.hpp"

#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <optional>
#include <vector>

namespace velmor {

class DispatchTimer;

// Runs a caller's attempt once, and again after a delay each time the caller asks with `retry()`.
// Every attempt is counted and every error it returns is kept. It never decides to retry by
// itself: typically the attempt calls `retry()` before it returns its error.
//
// All durations are on the current timer service's clock. Attempts run on the queue given, else
// on the pool (timed attempts) or the calling thread (`try_`). The fields are guarded by one lock
// that is never held while the attempt runs, so an attempt may use the scheduler.
class RetryScheduler : public std::enable_shared_from_this<RetryScheduler> {
public:
    enum class DelayAlgorithm { twoPowerOfCounter, constant, force1s };
    // The attempt: the error of a failed attempt, nothing when it succeeded.
    using RetryBlock = std::function<std::optional<Error>()>;

    // The two intervals (seconds) may come in either order and with either sign: the smaller
    // absolute value is the base, the larger the maximum. A not-a-number interval counts as
    // missing, so the other one serves as both.
    static std::shared_ptr<RetryScheduler> make(double retryBaseTimeInterval, double maximalRetryTimeInterval,
                                                DelayAlgorithm delayAlgorithm,
                                                std::optional<SerialQueue> dispatchQueue = std::nullopt);
    ~RetryScheduler();
    RetryScheduler(const RetryScheduler&) = delete;
    RetryScheduler& operator=(const RetryScheduler&) = delete;

    const UUID& id() const { return id_; }

    std::int64_t counter() const;
    void setCounter(std::int64_t counter);
    // Adds `amount`, stopping at the largest 64-bit value.
    void incrementCounter(std::uint64_t amount);
    std::vector<Error> errors() const;
    void setErrors(std::vector<Error> errors);
    RetryBlock retryBlock() const;
    void setRetryBlock(RetryBlock retryBlock);

    // Runs one attempt now: queued on the scheduler's queue, else on the calling thread before
    // returning. A pending timed attempt stays as it is.
    void try_();
    // Books one timed attempt unless one is pending, and gives its delay in seconds (that of the
    // pending one, as it was booked). A delay that would be not-a-number is 0, one beyond the timer
    // service's reach its furthest wait.
    double retry();
    // The pending timed attempt, if any, never runs.
    void cancelRetry();

private:
    RetryScheduler(double base, double maximum, DelayAlgorithm delayAlgorithm,
                   std::optional<SerialQueue> dispatchQueue);
    void attempt();
    void timerFired(std::uint64_t booking);
    // The delay of a timed attempt booked with `counter`, made safe.
    double delayFor(std::int64_t counter) const;

    const UUID id_ = UUID::random();
    const double retryBaseTimeInterval_;
    const double maximalRetryTimeInterval_;
    const DelayAlgorithm delayAlgorithm_;
    const std::optional<SerialQueue> schedulerDispatchQueue_;

    mutable NonRecursiveMutex<> mutex_{"RetryScheduler"};
    std::int64_t counter_ = 0;
    std::vector<Error> errors_;
    RetryBlock retryBlock_ = [] { return std::optional<Error>(); };
    std::unique_ptr<DispatchTimer> scheduler_;
    // Tells the pending timer's firing from that of one cancelled while its call was on its way.
    std::uint64_t booking_ = 0;
    double nextScheduleInterval_ = std::numeric_limits<double>::infinity();
};

// How late a timed attempt booked with `delay` (seconds, made safe) may fire: a tenth of its whole
// seconds, truncated.
double retryLeeway(double delay);

} // namespace velmor
