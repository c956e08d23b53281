#pragma once

#include "platform/dispatch/TimerService.hpp"

namespace velmor {

// A timer service for tests: its clock stands still until `advance` moves it, and the timers that
// fall due then fire on the advancing thread, in deadline order.
class ManualTimerService : public TimerService {
public:
    TimePoint now() const override;
    void advance(double seconds);

private:
    mutable std::mutex clockMutex_;
    TimePoint now_{};
};

// Installs a timer service for the life of the scope and puts the previous one back afterwards.
class ScopedTimerService {
public:
    explicit ScopedTimerService(std::shared_ptr<TimerService> service);
    ~ScopedTimerService();
    ScopedTimerService(const ScopedTimerService&) = delete;
    ScopedTimerService& operator=(const ScopedTimerService&) = delete;

private:
    std::shared_ptr<TimerService> previous_;
};

} // namespace velmor
