#include "platform/dispatch/TimerService.hpp"

#include "platform/dispatch/ThreadPool.hpp"
#include "platform/dispatch/UncaughtError.hpp"

#include <cmath>
#include <thread>

namespace velmor {

namespace {

// The process-wide service: one thread sleeping until the earliest deadline.
class SteadyTimerService : public TimerService {
public:
    SteadyTimerService() {
        std::thread([this] { run(); }).detach();
    }
    TimePoint now() const override { return Clock::now(); }

private:
    [[noreturn]] void run() {
        setCurrentThreadName("velmor.timers");
        for (;;) {
            waitUntilDueOrChanged();
            fireDue(Clock::now());
        }
    }
};

std::mutex currentMutex;
std::shared_ptr<TimerService>& installed() {
    static auto* service = new std::shared_ptr<TimerService>();
    return *service;
}
std::shared_ptr<TimerService> steady() {
    // Never destroyed: its thread runs for the life of the process.
    static auto* service = new std::shared_ptr<TimerService>(std::make_shared<SteadyTimerService>());
    return *service;
}

} // namespace

double boundedDelay(double seconds) {
    if (!(seconds > 0)) {
        return 0;
    }
    return std::min(seconds, TimerService::maximumDelay);
}

TimerService::Clock::duration durationFromSeconds(double seconds) {
    if (!(seconds > 0)) {
        return TimerService::Clock::duration::zero();
    }
    // Far beyond any wait.
    std::chrono::duration<double> span(std::min(seconds, TimerService::maximumDelay));
    return std::chrono::duration_cast<TimerService::Clock::duration>(span);
}

TimerService::TimePoint TimerService::deadlineAfter(double seconds) const {
    const TimePoint start = now();
    const Clock::duration span = durationFromSeconds(seconds);
    // A clock that has run long (or a manual one moved far) leaves less room than the longest wait.
    if (span > TimePoint::max() - start) {
        return TimePoint::max();
    }
    return start + span;
}

TimerService::Id TimerService::schedule(TimePoint deadline, std::function<void()> fire) {
    Id id;
    bool wake;
    {
        std::lock_guard lock(mutex_);
        id = nextId_++;
        entries_.emplace(std::make_pair(deadline, id), std::move(fire));
        deadlines_.emplace(id, deadline);
        wake = deadline < sleepingUntil_ || pendingWaiters_ > 0;
    }
    if (wake) {
        changed_.notify_all();
    }
    return id;
}

void TimerService::unschedule(Id id) {
    // Declared before the lock so that it goes after it: its captures may reach the service.
    std::function<void()> dropped;
    std::lock_guard lock(mutex_);
    auto found = deadlines_.find(id);
    if (found == deadlines_.end()) {
        return;
    }
    auto entry = entries_.find(std::make_pair(found->second, id));
    dropped = std::move(entry->second);
    entries_.erase(entry);
    deadlines_.erase(found);
}

std::size_t TimerService::pendingCount() const {
    std::lock_guard lock(mutex_);
    return entries_.size();
}

std::optional<TimerService::TimePoint> TimerService::nextDeadline() const {
    std::lock_guard lock(mutex_);
    if (entries_.empty()) {
        return std::nullopt;
    }
    return entries_.begin()->first.first;
}

bool TimerService::waitUntilPending(std::size_t count, std::chrono::duration<double> limit) {
    std::unique_lock lock(mutex_);
    ++pendingWaiters_;
    bool reached = changed_.wait_for(lock, limit, [&] { return entries_.size() >= count; });
    --pendingWaiters_;
    return reached;
}

void TimerService::waitUntilDueOrChanged() {
    // One lock from the look at the entries to the wait, so that no change slips in between.
    std::unique_lock lock(mutex_);
    if (entries_.empty()) {
        sleepingUntil_ = TimePoint::max();
        changed_.wait(lock);
    } else {
        // A copy: the entry may go while the wait has the lock released.
        TimePoint deadline = entries_.begin()->first.first;
        sleepingUntil_ = deadline;
        changed_.wait_until(lock, deadline);
    }
    sleepingUntil_ = TimePoint::min();
}

void TimerService::fireDue(TimePoint time) {
    for (;;) {
        std::function<void()> fire;
        {
            std::lock_guard lock(mutex_);
            if (entries_.empty() || entries_.begin()->first.first > time) {
                return;
            }
            auto first = entries_.begin();
            fire = std::move(first->second);
            deadlines_.erase(first->first.second);
            entries_.erase(first);
        }
        // A throwing entry must not take the timer thread, and every later timer, down with it.
        runReportingUncaught("a timer", "", fire);
    }
}

std::shared_ptr<TimerService> TimerService::current() {
    std::lock_guard lock(currentMutex);
    if (auto& service = installed()) {
        return service;
    }
    return steady();
}

void TimerService::setCurrent(std::shared_ptr<TimerService> service) {
    std::lock_guard lock(currentMutex);
    installed() = std::move(service);
}

} // namespace velmor
