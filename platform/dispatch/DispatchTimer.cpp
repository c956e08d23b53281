#include "platform/dispatch/DispatchTimer.hpp"

#include "platform/dispatch/ThreadPool.hpp"
#include "platform/dispatch/TimerService.hpp"

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

namespace velmor {

struct DispatchTimer::State : std::enable_shared_from_this<DispatchTimer::State> {
    using TimePoint = TimerService::TimePoint;

    std::shared_ptr<TimerService> service = TimerService::current();
    std::optional<SerialQueue> queue;

    mutable std::mutex mutex;
    std::shared_ptr<std::function<void()>> handler;
    std::optional<TimePoint> deadline;
    std::optional<TimerService::Clock::duration> interval;
    double leeway = 0;
    std::optional<TimerService::Id> entry;
    bool resumed = false;
    bool cancelled = false;
    // A handler call is queued and has not started yet.
    bool callQueued = false;
    // The threads running a handler call: calls on the pool may overlap.
    std::vector<std::thread::id> runningOn;
    std::condition_variable callEnded;

    // With the mutex held: registers the next deadline with the service.
    void arm() {
        if (!resumed || cancelled || !deadline) {
            return;
        }
        if (entry) {
            service->unschedule(*entry);
        }
        entry = service->schedule(*deadline, [weak = weak_from_this()] {
            if (auto self = weak.lock()) {
                self->fire();
            }
        });
    }

    void fire() {
        std::lock_guard lock(mutex);
        entry.reset();
        if (cancelled) {
            return;
        }
        if (interval) {
            TimePoint now = service->now();
            *deadline += *interval;
            if (*deadline <= now) {
                *deadline = now + *interval;
            }
        } else {
            deadline.reset();
        }
        arm();
        if (callQueued) {
            return;
        }
        callQueued = true;
        auto call = [self = shared_from_this()] { self->call(); };
        try {
            if (queue) {
                queue->async(std::move(call));
            } else {
                ThreadPool::shared().submit("velmor.timer", std::move(call));
            }
        } catch (...) {
            // This firing is lost, the next ones are not.
            callQueued = false;
            throw;
        }
    }

    void call() {
        std::shared_ptr<std::function<void()>> current;
        auto self = std::this_thread::get_id();
        {
            std::lock_guard lock(mutex);
            callQueued = false;
            if (cancelled || !handler) {
                return;
            }
            current = handler;
            runningOn.push_back(self);
        }
        struct Ended {
            State& state;
            std::thread::id thread;
            ~Ended() {
                {
                    std::lock_guard lock(state.mutex);
                    state.runningOn.erase(std::find(state.runningOn.begin(), state.runningOn.end(), thread));
                }
                state.callEnded.notify_all();
            }
        } ended{*this, self};
        (*current)();
    }

    // Waits until no handler call runs on another thread than the calling one.
    void waitForCallsElsewhere() {
        auto self = std::this_thread::get_id();
        std::unique_lock lock(mutex);
        callEnded.wait(lock, [&] {
            return std::all_of(runningOn.begin(), runningOn.end(),
                               [&](auto thread) { return thread == self; });
        });
    }
};

DispatchTimer::DispatchTimer(std::optional<SerialQueue> queue) : state_(std::make_shared<State>()) {
    state_->queue = std::move(queue);
}

DispatchTimer::~DispatchTimer() {
    cancelAndWait();
}

void DispatchTimer::schedule(double deadline, std::optional<double> interval, double leeway) {
    std::lock_guard lock(state_->mutex);
    state_->deadline = state_->service->deadlineAfter(deadline);
    state_->interval.reset();
    if (interval) {
        // A zero interval would fire without pause; the clock's resolution is the floor.
        state_->interval = std::max(durationFromSeconds(*interval), TimerService::Clock::duration(1));
    }
    state_->leeway = leeway;
    state_->arm();
}

void DispatchTimer::setEventHandler(std::function<void()> handler) {
    auto shared = std::make_shared<std::function<void()>>(std::move(handler));
    std::lock_guard lock(state_->mutex);
    if (!state_->cancelled) {
        state_->handler.swap(shared);
    }
}

void DispatchTimer::resume() {
    std::lock_guard lock(state_->mutex);
    if (state_->resumed) {
        return;
    }
    state_->resumed = true;
    state_->arm();
}

void DispatchTimer::cancel() {
    // Released after the lock: the handler may hold the timer's owner, whose end cancels again.
    std::shared_ptr<std::function<void()>> released;
    std::lock_guard lock(state_->mutex);
    state_->cancelled = true;
    if (state_->entry) {
        state_->service->unschedule(*state_->entry);
        state_->entry.reset();
    }
    released = std::move(state_->handler);
}

void DispatchTimer::cancelAndWait() {
    cancel();
    state_->waitForCallsElsewhere();
}

bool DispatchTimer::isCancelled() const {
    std::lock_guard lock(state_->mutex);
    return state_->cancelled;
}

double DispatchTimer::leeway() const {
    std::lock_guard lock(state_->mutex);
    return state_->leeway;
}

} // namespace velmor
