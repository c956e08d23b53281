#pragma once

#include "platform/concurrency/Task.hpp"

#include <condition_variable>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <optional>
#include <type_traits>
#include <utility>
#include <variant>

namespace velmor {

// Children that run side by side, each on its own task, and hand their results back in the order
// they finish. The group is cancelled with the task that made it, and cancelling the group
// cancels every child and everything below them. A group never outlives its scope: its end
// cancels and waits for the children still running. Use it through `withTaskGroup`.
template <typename T> class TaskGroup {
public:
    // What `next()` hands back: the child's result, or std::monostate for children without one.
    using Result = std::conditional_t<std::is_void_v<T>, std::monostate, T>;

    TaskGroup();
    ~TaskGroup();
    TaskGroup(const TaskGroup&) = delete;
    TaskGroup& operator=(const TaskGroup&) = delete;

    // Starts a child running `operation`; in a cancelled group it starts cancelled. When no thread
    // can be made for it, throws `std::system_error`: the child never runs and is not counted.
    template <typename F> void addTask(F&& operation);

    // Waits for the next child to finish and returns its result, or rethrows its error; nothing
    // when no child is left.
    std::optional<Result> next();
    // Waits for every child; results and errors not taken with `next()` are dropped.
    void waitForAll();
    void cancelAll();
    bool isCancelled() const;
    bool isEmpty() const;

private:
    struct Outcome {
        std::optional<Result> result;
        std::exception_ptr error;
    };
    struct State {
        std::stop_source stop;
        std::optional<std::stop_callback<detail::StopLink>> parentLink;
        mutable std::mutex mutex;
        std::condition_variable changed;
        std::size_t running = 0;
        std::deque<Outcome> finished;

        // Waits until `ready` holds, with the calling thread's reentrant actors given up
        // meanwhile. They are taken back without the lock: a child may hold one and want it.
        template <typename Ready>
        void waitUntil(std::unique_lock<std::mutex>& lock, const char* what, Ready ready) {
            if (ready()) {
                return;
            }
            detail::checkNotBlockingMain(what);
            lock.unlock();
            {
                detail::HeldActorsRelease released;
                lock.lock();
                changed.wait(lock, ready);
                lock.unlock();
            }
            lock.lock();
        }
    };
    std::shared_ptr<State> state_ = std::make_shared<State>();
};

// A group whose children may throw. Every group here may; the name is kept for call sites that
// mean it.
template <typename T> using ThrowingTaskGroup = TaskGroup<T>;

// Runs `body` with a new group. When `body` returns, the children still running are awaited and
// the body's result is returned; when `body` throws, the children are cancelled and awaited
// first, then the error goes on.
template <typename T, typename Body> std::invoke_result_t<Body, TaskGroup<T>&> withTaskGroup(Body&& body) {
    TaskGroup<T> group;
    if constexpr (std::is_void_v<std::invoke_result_t<Body, TaskGroup<T>&>>) {
        std::forward<Body>(body)(group);
        group.waitForAll();
    } else {
        auto result = std::forward<Body>(body)(group);
        group.waitForAll();
        return result;
    }
}

template <typename T, typename Body>
std::invoke_result_t<Body, TaskGroup<T>&> withThrowingTaskGroup(Body&& body) {
    return withTaskGroup<T>(std::forward<Body>(body));
}

template <typename T> TaskGroup<T>::TaskGroup() {
    auto parent = detail::currentStopToken();
    if (parent.stop_possible()) {
        state_->parentLink.emplace(std::move(parent), detail::StopLink{state_->stop});
    }
}

template <typename T> TaskGroup<T>::~TaskGroup() {
    // Reached with children still running only when the scope is left by an error.
    cancelAll();
    waitForAll();
}

template <typename T> template <typename F> void TaskGroup<T>::addTask(F&& operation) {
    auto core = std::make_shared<detail::TaskCore>();
    core->linkTo(state_->stop.get_token());
    {
        std::lock_guard lock(state_->mutex);
        ++state_->running;
    }
    // A child that cannot start is not counted: the group would wait for it for ever.
    struct Uncount {
        State* state;
        bool started = false;
        ~Uncount() {
            if (!started) {
                std::lock_guard lock(state->mutex);
                --state->running;
            }
        }
    } uncount{state_.get()};
    detail::launch(std::move(core), [state = state_, operation = std::forward<F>(operation)]() mutable {
        Outcome outcome;
        try {
            if constexpr (std::is_void_v<T>) {
                operation();
                outcome.result.emplace();
            } else {
                outcome.result.emplace(operation());
            }
        } catch (...) {
            outcome.error = std::current_exception();
        }
        {
            std::lock_guard lock(state->mutex);
            state->finished.push_back(std::move(outcome));
            --state->running;
        }
        state->changed.notify_all();
    });
    uncount.started = true;
}

template <typename T> std::optional<typename TaskGroup<T>::Result> TaskGroup<T>::next() {
    std::unique_lock lock(state_->mutex);
    // Again after the wait: the actors were taken back without the lock.
    auto ready = [&] { return !state_->finished.empty() || state_->running == 0; };
    while (!ready()) {
        state_->waitUntil(lock, "TaskGroup::next", ready);
    }
    if (state_->finished.empty()) {
        return std::nullopt;
    }
    Outcome outcome = std::move(state_->finished.front());
    state_->finished.pop_front();
    lock.unlock();
    if (outcome.error) {
        std::rethrow_exception(outcome.error);
    }
    return std::move(outcome.result);
}

template <typename T> void TaskGroup<T>::waitForAll() {
    std::unique_lock lock(state_->mutex);
    state_->waitUntil(lock, "TaskGroup::waitForAll", [&] { return state_->running == 0; });
    state_->finished.clear();
}

template <typename T> void TaskGroup<T>::cancelAll() {
    state_->stop.request_stop();
}

template <typename T> bool TaskGroup<T>::isCancelled() const {
    return state_->stop.stop_requested();
}

template <typename T> bool TaskGroup<T>::isEmpty() const {
    std::lock_guard lock(state_->mutex);
    return state_->running == 0 && state_->finished.empty();
}

} // namespace velmor
