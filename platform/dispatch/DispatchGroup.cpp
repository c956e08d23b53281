#include "platform/dispatch/DispatchGroup.hpp"

#include "platform/concurrency/MainThreadBlockCheck.hpp"
#include "platform/dispatch/Alarm.hpp"
#include "platform/dispatch/ThreadPool.hpp"
#include "platform/dispatch/UncaughtError.hpp"
#include "platform/error/FatalError.hpp"

#include <condition_variable>
#include <mutex>
#include <vector>

namespace velmor {

namespace {

void dispatch(std::function<void()> work, const std::optional<SerialQueue>& queue) {
    if (queue) {
        queue->async(std::move(work));
    } else {
        ThreadPool::shared().submit("velmor.group", std::move(work));
    }
}

} // namespace

struct DispatchGroup::State {
    struct Notification {
        std::function<void()> work;
        std::optional<SerialQueue> queue;
    };
    std::mutex mutex;
    std::condition_variable_any empty;
    long count = 0;
    std::vector<Notification> notifications;
};

DispatchGroup::DispatchGroup() : state_(std::make_shared<State>()) {}

void DispatchGroup::enter() const {
    std::lock_guard lock(state_->mutex);
    ++state_->count;
}

void DispatchGroup::leave() const {
    std::vector<State::Notification> due;
    {
        std::lock_guard lock(state_->mutex);
        if (state_->count == 0) {
            fatalError("DispatchGroup::leave called more often than enter");
        }
        if (--state_->count > 0) {
            return;
        }
        due.swap(state_->notifications);
    }
    state_->empty.notify_all();
    for (auto& notification : due) {
        // One that cannot start (no thread to be had) must not keep the others from theirs.
        runReportingUncaught("a notification of a dispatch group", "",
                             [&] { dispatch(std::move(notification.work), notification.queue); });
    }
}

void DispatchGroup::async(std::function<void()> work, std::optional<SerialQueue> queue) const {
    enter();
    struct LeaveUnlessStarted {
        const DispatchGroup& group;
        bool started = false;
        ~LeaveUnlessStarted() {
            if (!started) {
                group.leave();
            }
        }
    } unit{*this};
    dispatch(
        [group = *this, work = std::move(work)] {
            try {
                work();
            } catch (...) {
                group.leave();
                throw;
            }
            group.leave();
        },
        queue);
    unit.started = true;
}

void DispatchGroup::wait() const {
    std::unique_lock lock(state_->mutex);
    if (state_->count > 0) {
        detail::checkNotBlockingMain("DispatchGroup::wait");
    }
    state_->empty.wait(lock, [&] { return state_->count == 0; });
}

bool DispatchGroup::waitFor(double seconds) const {
    Alarm alarm(seconds);
    std::unique_lock lock(state_->mutex);
    return state_->empty.wait(lock, alarm.token(), [&] { return state_->count == 0; });
}

void DispatchGroup::notify(std::function<void()> work, std::optional<SerialQueue> queue) const {
    {
        std::lock_guard lock(state_->mutex);
        if (state_->count > 0) {
            state_->notifications.push_back({std::move(work), std::move(queue)});
            return;
        }
    }
    dispatch(std::move(work), queue);
}

} // namespace velmor
