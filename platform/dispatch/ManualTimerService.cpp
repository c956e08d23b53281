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
    const auto giveUp = std::chrono::steady_clock::now() + durationFromSeconds(timeoutSeconds);
    while (pendingCount() != count) {
        if (std::chrono::steady_clock::now() >= giveUp) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

ScopedTimerService::ScopedTimerService(std::shared_ptr<TimerService> service) {
    previous_ = TimerService::current();
    TimerService::setCurrent(std::move(service));
}

ScopedTimerService::~ScopedTimerService() {
    TimerService::setCurrent(std::move(previous_));
}

} // namespace velmor
