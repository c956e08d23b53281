#pragma once

#include "platform/concurrency/Actor.hpp"
#include "platform/concurrency/CancellationError.hpp"
#include "platform/concurrency/MainThreadBlockCheck.hpp"
#include "platform/dispatch/TimerService.hpp"
#include "platform/dispatch/UncaughtError.hpp"

#include <condition_variable>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <stop_token>
#include <type_traits>
#include <utility>
#include <variant>

namespace velmor {

namespace detail {

// Cancels `target` when the token it is registered on is stopped: links a child to its parent.
struct StopLink {
    std::stop_source target;
    void operator()() noexcept { target.request_stop(); }
};

// What a running task shares with its handles and with the code it runs.
class TaskCore {
public:
    TaskCore() = default;
    virtual ~TaskCore();
    TaskCore(const TaskCore&) = delete;
    TaskCore& operator=(const TaskCore&) = delete;

    std::stop_source& stopSource() { return stop_; }
    // Cancels this task whenever `parent` is stopped, at once when it already is.
    void linkTo(std::stop_token parent);

    void finish(std::exception_ptr error);
    bool isFinished();
    // Waits for the end; returns the error, which then counts as seen. When it has to wait, the
    // main-thread check names the wait `what`, and the calling thread's reentrant actors are
    // given up meanwhile.
    std::exception_ptr waitForEnd(const char* what);

private:
    std::stop_source stop_;
    std::optional<std::stop_callback<StopLink>> parentLink_;
    std::mutex mutex_;
    std::condition_variable ended_;
    bool finished_ = false;
    std::exception_ptr error_;
    bool errorSeen_ = false;
};

template <typename T> class ResultCore : public TaskCore {
public:
    std::optional<T> result;
    // Guards taking out a result that cannot be copied.
    std::mutex takeMutex;
};
template <> class ResultCore<void> : public TaskCore {};

// The task the calling thread runs for, or nullptr outside any task.
TaskCore* currentTask();
// The current task's stop token; a token that never stops outside any task.
std::stop_token currentStopToken();

// Makes `task` the current task of the calling thread for the life of the scope.
class CurrentTaskScope {
public:
    explicit CurrentTaskScope(TaskCore* task);
    ~CurrentTaskScope();
    CurrentTaskScope(const CurrentTaskScope&) = delete;
    CurrentTaskScope& operator=(const CurrentTaskScope&) = delete;

private:
    TaskCore* previous_;
};

// Runs `body` on the pool with `core` as the current task, then finishes `core` with what
// `body` threw. Throws `std::system_error`, and `body` never runs, when no thread can be made.
void launch(std::shared_ptr<TaskCore> core, std::function<void()> body);

} // namespace detail

// A handle of a task of any result type: enough to cancel it, ask about it and wait for its end.
// Also the home of the operations on the current task.
class AnyTask {
public:
    AnyTask() = default;

    // Asks the task and everything below it to stop. The cancellation handlers of the tasks
    // concerned run inside this call, on this thread, before it returns (see
    // `withCancellationHandler`). A no-op on an empty handle.
    void cancel() const noexcept;
    bool wasCancelled() const;
    bool isFinished() const;
    // Waits for the end without looking at the result.
    void wait() const;

    explicit operator bool() const { return core_ != nullptr; }
    friend bool operator==(const AnyTask& a, const AnyTask& b) { return a.core_ == b.core_; }

    // Whether the current task has been cancelled; false outside any task.
    static bool isCancelled();
    // Throws `CancellationError` when the current task has been cancelled.
    static void checkCancellation();
    // Sleeps `seconds` on the current timer service; a cancellation of the current task ends the
    // sleep at once with `CancellationError` (also when it came before the sleep). It holds the
    // actors the thread holds (`Actor::sleep` does not); on the main thread it is caught as a
    // blocking wait.
    static void sleep(double seconds);
    // `sleep` until `deadline` on the current timer service's clock; `TimePoint::max()` sleeps until
    // the task is cancelled.
    static void sleepUntil(TimerService::TimePoint deadline);

protected:
    explicit AnyTask(std::shared_ptr<detail::TaskCore> core) : core_(std::move(core)) {}
    std::shared_ptr<detail::TaskCore> core_;
};

// An unstructured task: `start` runs the operation on a pool thread of its own, so a task that
// blocks never holds up others. The handle may be dropped; the task runs on. It is not cancelled
// with the task that started it (children of a task group are).
template <typename T = void> class Task : public AnyTask {
public:
    Task() = default;

    // Runs `operation` on a new task. When no thread can be made for it, throws
    // `std::system_error` and `operation` never runs.
    template <typename F> static Task start(F&& operation);
    // `start` for an operation whose error someone must hear about: when `operation` throws,
    // `errorHandler` is called with the error on the task's thread, once, and the task then fails
    // with that same error. An error of the handler itself is reported and dropped: it can neither
    // replace nor swallow the operation's.
    template <typename F, typename OnError>
        requires std::is_invocable_v<OnError&, std::exception_ptr>
    static Task start(F&& operation, OnError&& errorHandler);

    // Waits for the end; returns the result or rethrows the task's error. The main thread must
    // never wait on a task: a debug build stops the process when it does. A result that cannot be
    // copied is moved out: it can be taken once, and a second call throws `std::logic_error`.
    T value() const;

private:
    explicit Task(std::shared_ptr<detail::TaskCore> core) : AnyTask(std::move(core)) {}
};

template <typename T> template <typename F> Task<T> Task<T>::start(F&& operation) {
    auto core = std::make_shared<detail::ResultCore<T>>();
    auto* raw = core.get();
    detail::launch(core, [raw, operation = std::forward<F>(operation)]() mutable {
        if constexpr (std::is_void_v<T>) {
            operation();
        } else {
            raw->result.emplace(operation());
        }
    });
    return Task(std::move(core));
}

template <typename T>
template <typename F, typename OnError>
    requires std::is_invocable_v<OnError&, std::exception_ptr>
Task<T> Task<T>::start(F&& operation, OnError&& errorHandler) {
    return start([operation = std::forward<F>(operation),
                  errorHandler = std::forward<OnError>(errorHandler)]() mutable -> T {
        try {
            return operation();
        } catch (...) {
            auto error = std::current_exception();
            runReportingUncaught("error handler of ", "velmor.task", [&] { errorHandler(error); });
            std::rethrow_exception(error);
        }
    });
}

template <typename T> T Task<T>::value() const {
    if (auto error = core_->waitForEnd("Task::value")) {
        std::rethrow_exception(error);
    }
    if constexpr (std::is_copy_constructible_v<T>) {
        return *static_cast<detail::ResultCore<T>&>(*core_).result;
    } else if constexpr (!std::is_void_v<T>) {
        auto& core = static_cast<detail::ResultCore<T>&>(*core_);
        std::lock_guard lock(core.takeMutex);
        if (!core.result) {
            throw std::logic_error("the result of this task was taken already");
        }
        T taken = std::move(*core.result);
        core.result.reset();
        return taken;
    }
}

// Runs `operation` with `onCancel` registered on the current task: `onCancel` runs once, on the
// cancelling thread, when the task is cancelled while `operation` runs, and at once when it
// already was. Outside any task only `operation` runs. `onCancel` runs inside the `cancel()` call
// that cancels the task (or one of its ancestors), while that caller waits: it must be short and
// must never block or wait for other work, and it must not throw.
template <typename Operation, typename OnCancel>
std::invoke_result_t<Operation> withCancellationHandler(Operation&& operation, OnCancel&& onCancel) {
    detail::TaskCore* task = detail::currentTask();
    if (task == nullptr) {
        return std::forward<Operation>(operation)();
    }
    std::stop_callback handler(task->stopSource().get_token(), std::forward<OnCancel>(onCancel));
    return std::forward<Operation>(operation)();
}

} // namespace velmor
