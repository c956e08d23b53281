#pragma once

#include "platform/concurrency/Task.hpp"

#include <mutex>
#include <optional>
#include <utility>

namespace velmor {

// A holder of one task handle that any thread may use: storing another handle cancels the task
// held so far, and so does the holder's end. `run` starts the new task itself, so that starting an
// operation cancels the one started before. The old task is cancelled under the holder's lock, so
// the cancellation handlers of a held task must not use the holder. It cannot be copied: a copy
// would cancel one task twice, or not at all.
template <typename T = void> class AutoCancellingTask {
public:
    // Holds `wrappedValue` without cancelling anything.
    explicit AutoCancellingTask(std::optional<Task<T>> wrappedValue = std::nullopt) : task_(std::move(wrappedValue)) {}
    ~AutoCancellingTask() {
        std::lock_guard lock(lock_);
        if (task_) {
            task_->cancel();
        }
    }
    AutoCancellingTask(const AutoCancellingTask&) = delete;
    AutoCancellingTask& operator=(const AutoCancellingTask&) = delete;

    std::optional<Task<T>> task() const {
        std::lock_guard lock(lock_);
        return task_;
    }

    // Cancels the held task, then holds `task`.
    void setTask(std::optional<Task<T>> task) {
        std::lock_guard lock(lock_);
        if (task_) {
            task_->cancel();
        }
        task_ = std::move(task);
    }

    // Starts `operation` on a new task (`Task::start`), then holds it in place of the old one, which
    // is cancelled only now: for a moment both run, so the new operation must not assume that the
    // old one has stopped. Serves operations that throw and ones that do not.
    template <typename F> void run(F&& operation) { setTask(Task<T>::start(std::forward<F>(operation))); }

private:
    mutable std::mutex lock_;
    std::optional<Task<T>> task_;
};

} // namespace velmor
