#include "platform/concurrency/MainActor.hpp"

#include "platform/error/FatalError.hpp"

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

namespace velmor {

namespace {

std::mutex executorMutex;
std::shared_ptr<MainExecutor>& executor() {
    static auto* installed = new std::shared_ptr<MainExecutor>();
    return *installed;
}
std::atomic<std::thread::id> mainThread{};

std::shared_ptr<MainExecutor> currentExecutor() {
    std::lock_guard lock(executorMutex);
    return executor();
}

// What a caller waiting in `run` shares with the job it posted.
struct Handoff {
    enum class Stage { queued, running, finished, abandoned };

    std::mutex mutex;
    std::condition_variable_any changed;
    Stage stage = Stage::queued;
    std::exception_ptr error;

    // On the main thread: false when the caller has given up, and the job must not run.
    bool start() {
        std::lock_guard lock(mutex);
        if (stage == Stage::abandoned) {
            return false;
        }
        stage = Stage::running;
        return true;
    }

    void finish(std::exception_ptr failure) {
        {
            std::lock_guard lock(mutex);
            if (stage == Stage::abandoned) {
                return;
            }
            stage = Stage::finished;
            error = std::move(failure);
        }
        changed.notify_all();
    }
};

// Ends the caller's wait with a cancellation when the executor drops the job without running it,
// as one does when it shuts down.
struct HandoffGuard {
    std::shared_ptr<Handoff> handoff;
    bool ran = false;
    ~HandoffGuard() {
        if (!ran) {
            handoff->finish(std::make_exception_ptr(CancellationError()));
        }
    }
};

} // namespace

void MainActor::install(std::shared_ptr<MainExecutor> newExecutor) {
    std::lock_guard lock(executorMutex);
    if (executor()) {
        fatalError("MainActor::install called while an executor is installed");
    }
    executor() = std::move(newExecutor);
    mainThread.store(std::this_thread::get_id());
}

void MainActor::uninstall() {
    std::shared_ptr<MainExecutor> removed;
    std::lock_guard lock(executorMutex);
    removed = std::move(executor());
    mainThread.store(std::thread::id());
}

bool MainActor::isMainThread() {
    return mainThread.load() == std::this_thread::get_id();
}

void MainActor::assertIsolated(std::source_location where) {
    if (!isMainThread()) {
        fatalError(std::string("main actor isolation broken in ") + where.function_name() + " at " +
                   where.file_name() + ":" + std::to_string(where.line()));
    }
}

void MainActor::post(std::function<void()> job) {
    if (!tryPost(std::move(job))) {
        // Before the start or after the end of the application: work still finishing then gives
        // up as a cancelled task would.
        throw CancellationError();
    }
}

bool MainActor::tryPost(std::function<void()> job) {
    auto target = currentExecutor();
    if (!target) {
        return false;
    }
    target->post(std::move(job));
    return true;
}

void MainActor::runElsewhere(const std::function<void()>& operation, bool cancellable) {
    auto handoff = std::make_shared<Handoff>();
    detail::TaskCore* callerTask = detail::currentTask();
    auto guard = std::make_shared<HandoffGuard>(handoff);
    // Given up before the job is posted: the main thread may need an actor the caller holds.
    detail::HeldActorsRelease released;
    post([guard, callerTask, &operation] {
        guard->ran = true;
        if (!guard->handoff->start()) {
            return;
        }
        std::exception_ptr error;
        {
            detail::CurrentTaskScope scope(callerTask);
            try {
                operation();
            } catch (...) {
                error = std::current_exception();
            }
        }
        guard->handoff->finish(std::move(error));
    });
    guard.reset();
    using Stage = Handoff::Stage;
    std::stop_token cancellation = cancellable ? detail::currentStopToken() : std::stop_token();
    std::unique_lock lock(handoff->mutex);
    handoff->changed.wait(lock, cancellation, [&] { return handoff->stage == Stage::finished; });
    if (handoff->stage == Stage::queued) {
        // Cancelled before the main thread took the job up: it will not run.
        handoff->stage = Stage::abandoned;
        throw CancellationError();
    }
    // Once running, the operation uses the caller's frame and sees the cancellation itself.
    handoff->changed.wait(lock, [&] { return handoff->stage == Stage::finished; });
    // Taken out under the lock, so the error's last owner is this thread: the job's copy, released
    // on the main thread, would otherwise race with the caller's handling of the same object.
    std::exception_ptr error = std::move(handoff->error);
    lock.unlock();
    if (error) {
        std::rethrow_exception(error);
    }
}

void MainActor::destroyOnMain(std::function<void()> destroy) {
    if (isMainThread()) {
        destroy();
        return;
    }
    auto target = currentExecutor();
    if (!target) {
        destroy();
        return;
    }
    target->post(std::move(destroy));
}

} // namespace velmor
