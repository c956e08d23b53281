#pragma once

#include "platform/dispatch/TimerService.hpp"

namespace velmor {

// A timer service for tests: its clock stands still until `advance` moves it, and the timers that
// fall due then fire on the advancing thread, in deadline order.
class ManualTimerService : public TimerService {
public:
    TimePoint now() const override;
    void advance(double seconds);
    // Moves time on by `step` until `done()` holds: for a waiter on another thread whose deadline
    // is set at a moment the test cannot know.
    void advanceUntil(const std::function<bool()>& done, double step = 1);
    // Waits (in real time, up to `timeoutSeconds`) until `count` timers or sleepers wait for their
    // deadline: a test learns that a waiter on another thread has read the clock.
    bool waitForPending(std::size_t count, double timeoutSeconds = 30);

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
