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
    // is set at a moment the test cannot know. It cannot tell how much of the time moved passed
    // before the waiter registered; a test that measures a wait uses `waitForPending` and `advance`.
    void advanceUntil(const std::function<bool()>& done, double step = 1);
    // Waits until at least `count` entries (sleeps, timers, time limits) are pending, so that a
    // test moves time only once the waiter it measures has registered. False when
    // `timeoutSeconds` of real time passed first: the limit only keeps a broken test from hanging.
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
