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

    // Queues `job` on the main thread. Without an executor it is a programming error.
    static void post(std::function<void()> job);
    // Queues `job` when an executor is installed; false, and `job` dropped, when none is.
    static bool tryPost(std::function<void()> job);

    // Runs `operation` on the main thread and returns its result (or rethrows its error): inline
    // on the main thread, otherwise posted while the caller waits. The caller's task stays current
    // inside, so cancellation checks there see the caller's task.
    template <typename F> static std::invoke_result_t<F> run(F&& operation);

    // A shared object whose destruction happens on the main thread, whichever thread lets go of
    // it last.
    template <typename T, typename... Args> static std::shared_ptr<T> makeShared(Args&&... args);

private:
    static void runElsewhere(const std::function<void()>& operation);
    // Deletes on the main thread: at once there or without an executor, else posted.
    static void destroyOnMain(std::function<void()> destroy);
};

template <typename F> std::invoke_result_t<F> MainActor::run(F&& operation) {
    using R = std::invoke_result_t<F>;
    if (isMainThread()) {
        return std::forward<F>(operation)();
    }
    if constexpr (std::is_void_v<R>) {
        runElsewhere([&] { std::forward<F>(operation)(); });
    } else {
        std::optional<R> result;
        runElsewhere([&] { result.emplace(std::forward<F>(operation)()); });
        return std::move(*result);
    }
}

template <typename T, typename... Args> std::shared_ptr<T> MainActor::makeShared(Args&&... args) {
    return std::shared_ptr<T>(new T(std::forward<Args>(args)...),
                              [](T* object) { destroyOnMain([object] { delete object; }); });
}

} // namespace velmor
