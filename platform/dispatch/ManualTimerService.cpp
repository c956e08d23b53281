#include "platform/dispatch/ManualTimerService.hpp"

#include <thread>

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

void ManualTimerService::advanceUntil(const std::function<bool()>& done, double step) {
    while (!done()) {
        advance(step);
        std::this_thread::yield();
    }
}

bool ManualTimerService::waitForPending(std::size_t count, double timeoutSeconds) {
    return waitUntilPending(count, std::chrono::duration<double>(timeoutSeconds));
}

ScopedTimerService::ScopedTimerService(std::shared_ptr<TimerService> service) {
    previous_ = TimerService::current();
    TimerService::setCurrent(std::move(service));
}

ScopedTimerService::~ScopedTimerService() {
    TimerService::setCurrent(std::move(previous_));
}

} // namespace velmor
