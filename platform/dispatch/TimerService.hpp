#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <unordered_map>
#include <utility>

namespace velmor {

// Wakes timers and sleepers at their deadlines. The process runs one over the steady clock on a
// thread of its own; tests put a `ManualTimerService` in its place so that time moves only when
// they say so.
class TimerService {
public:
    using Clock = std::chrono::steady_clock;
    using TimePoint = Clock::time_point;
    using Id = std::uint64_t;

    // The longest wait a deadline can be set to, in seconds (about 292 years): every longer,
    // infinite or not-a-number delay that a caller computes is brought within it before use.
    static constexpr double maximumDelay = 9.2e9;

    virtual ~TimerService() = default;

    virtual TimePoint now() const = 0;
    // `seconds` from now; a negative or not-a-number value counts as 0, a huge one is clamped.
    TimePoint deadlineAfter(double seconds) const;

    // Calls `fire` once `deadline` has passed. `fire` runs on the service's thread (or the thread
    // that advances a manual clock), so it only hands work on.
    Id schedule(TimePoint deadline, std::function<void()> fire);
    // Forgets a pending entry; nothing happens when it has already fired.
    void unschedule(Id id);

    // How many entries wait to fire, and the deadline of the earliest (nothing when none waits):
    // lets a test see that a sleeper has registered before it moves a manual clock.
    std::size_t pendingCount() const;
    std::optional<TimePoint> nextDeadline() const;

    // The service in use: the one installed by `setCurrent`, else the steady one.
    static std::shared_ptr<TimerService> current();
    // Installs `service` for everything scheduled from now on; nullptr goes back to the steady one.
    static void setCurrent(std::shared_ptr<TimerService> service);

protected:
    // Calls, one at a time and in deadline order, every entry due at `time`, including those that
    // the calls themselves schedule.
    void fireDue(TimePoint time);
    // Waits until the earliest entry is due or the entries change.
    void waitUntilDueOrChanged();
    // Waits until at least `count` entries are pending; false when `limit` of real time passed
    // first.
    bool waitUntilPending(std::size_t count, std::chrono::duration<double> limit);

private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    // The deadline the service's thread sleeps until (`TimePoint::max()` while it waits for a
    // first entry), or `TimePoint::min()` while it is awake: a new entry wakes it only when due
    // sooner. An entry taken away wakes nobody; the thread then wakes once for nothing.
    TimePoint sleepingUntil_ = TimePoint::min();
    // Callers of `waitUntilPending`: while any waits, every new entry wakes the waiters.
    std::size_t pendingWaiters_ = 0;
    std::map<std::pair<TimePoint, Id>, std::function<void()>> entries_;
    std::unordered_map<Id, TimePoint> deadlines_;
    Id nextId_ = 1;
};

// `seconds` made fit for a timer: not-a-number and negative values become 0, infinite and larger
// ones `TimerService::maximumDelay`. What comes back converts to an integer safely.
double boundedDelay(double seconds);

// Converts seconds given as a double into a clock duration, with the clamping of `deadlineAfter`.
TimerService::Clock::duration durationFromSeconds(double seconds);

} // namespace velmor
