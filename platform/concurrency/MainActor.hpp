#pragma once

#include "platform/concurrency/Task.hpp"

#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <source_location>
#include <type_traits>
#include <utility>

namespace velmor {

// Runs work on the main thread. The application installs one that posts to its event loop;
// tests install a `RunLoop`.
class MainExecutor {
public:
    virtual ~MainExecutor() = default;
    // Queues `job` to run on the main thread, in the order posted.
    virtual void post(std::function<void()> job) = 0;
};

// The process-wide main actor: the thread that installs the executor counts as the main thread,
// and all model state is touched only there.
class MainActor {
public:
    // Installs the executor once; the calling thread becomes the main thread.
    static void install(std::shared_ptr<MainExecutor> executor);
    // Removes the executor, for tests that install one of their own per case.
    static void uninstall();

    static bool isMainThread();
    // Stops the process when called off the main thread.
    static void assertIsolated(std::source_location where = std::source_location::current());

    // Queues `job` on the main thread. Without an executor (before one is installed, or after it
    // was removed at quit) throws `CancellationError` and `job` never runs.
    static void post(std::function<void()> job);
    // Queues `job` when an executor is installed; false, and `job` dropped, when none is.
    static bool tryPost(std::function<void()> job);

    // Runs `operation` on the main thread and returns its result (or rethrows its error): inline
    // on the main thread, otherwise posted while the caller waits. The caller's task stays current
    // inside, so cancellation checks there see the caller's task. The wait does not end on the
    // caller's cancellation: a cancelled task may still be reporting how it ended, or finishing
    // what it must not leave half done. Throws `CancellationError`, and `operation` never runs,
    // when there is no executor or when the executor drops the job (it shuts down).
    template <typename F> static std::invoke_result_t<F> run(F&& operation);
    // `run` for a caller that gives up when its task is cancelled: a cancellation that comes
    // before the main thread has taken the job up (or came before the call) ends the wait with
    // `CancellationError`, and `operation` never runs; once it runs, the caller waits for its end.
    template <typename F> static std::invoke_result_t<F> runCancellable(F&& operation);

    // A shared object whose destruction happens on the main thread, whichever thread lets go of
    // it last.
    template <typename T, typename... Args> static std::shared_ptr<T> makeShared(Args&&... args);

private:
    template <typename F> static std::invoke_result_t<F> runOnMain(F&& operation, bool cancellable);
    static void runElsewhere(const std::function<void()>& operation, bool cancellable);
    // Deletes on the main thread: at once there or without an executor, else posted.
    static void destroyOnMain(std::function<void()> destroy);
};

template <typename F> std::invoke_result_t<F> MainActor::run(F&& operation) {
    return runOnMain(std::forward<F>(operation), false);
}

template <typename F> std::invoke_result_t<F> MainActor::runCancellable(F&& operation) {
    return runOnMain(std::forward<F>(operation), true);
}

template <typename F> std::invoke_result_t<F> MainActor::runOnMain(F&& operation, bool cancellable) {
    using R = std::invoke_result_t<F>;
    if (isMainThread()) {
        return std::forward<F>(operation)();
    }
    if constexpr (std::is_void_v<R>) {
        runElsewhere([&] { std::forward<F>(operation)(); }, cancellable);
    } else {
        std::optional<R> result;
        runElsewhere([&] { result.emplace(std::forward<F>(operation)()); }, cancellable);
        return std::move(*result);
    }
}

template <typename T, typename... Args> std::shared_ptr<T> MainActor::makeShared(Args&&... args) {
    return std::shared_ptr<T>(new T(std::forward<Args>(args)...),
                              [](T* object) { destroyOnMain([object] { delete object; }); });
}

} // namespace velmor
