#include "foundation/core/retry/Throttler.hpp"

namespace velmor {

std::shared_ptr<Throttler> Throttler::make(double minimumDelay, SerialQueue queue) {
    return std::shared_ptr<Throttler>(new Throttler(minimumDelay, std::move(queue)));
}

Throttler::Throttler(double minimumDelay, SerialQueue queue) : queue_(std::move(queue)), minimumDelay_(minimumDelay) {}

void Throttler::throttle(std::function<void()> work) {
    DispatchWorkItem item([weak = weak_from_this(), work = std::move(work)] {
        if (auto self = weak.lock()) {
            std::lock_guard lock(self->previousRunLock_);
            self->previousRun_ = TimerService::current()->now();
        }
        work();
    });
    {
        std::lock_guard lock(workItemLock_);
        workItem_.cancel();
        workItem_ = item;
    }
    // Not a number counts as no delay.
    double delay = 0;
    {
        std::lock_guard lock(previousRunLock_);
        const auto now = TimerService::current()->now();
        const bool longAgo = previousRun_ == TimerService::TimePoint::min() ||
                             now - previousRun_ > durationFromSeconds(minimumDelay_);
        delay = longAgo ? 0 : minimumDelay_;
    }
    if (delay > 0) {
        queue_.asyncAfter(delay, [item] { item.perform(); });
    } else {
        queue_.async([item] { item.perform(); });
    }
}

} // namespace velmor
