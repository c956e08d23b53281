#include "platform/dispatch/ManualTimerService.hpp"

namespace velmor {

TimerService::TimePoint ManualTimerService::now() const {
    std::lock_guard lock(clockMutex_);
    return now_;
}

void ManualTimerService::advance(double seconds) {
    TimePoint target;
    {
        std::lock_guard lock(clockMutex_);
        now_ += durationFromSeconds(seconds);
        target = now_;
    }
    fireDue(target);
}

ScopedTimerService::ScopedTimerService(std::shared_ptr<TimerService> service) {
    previous_ = TimerService::current();
    TimerService::setCurrent(std::move(service));
}

ScopedTimerService::~ScopedTimerService() {
    TimerService::setCurrent(std::move(previous_));
}

} // namespace velmor
