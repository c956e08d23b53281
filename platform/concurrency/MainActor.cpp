#include "platform/concurrency/MainActor.hpp"

#include "platform/error/FatalError.hpp"

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <stdexcept>
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
    std::mutex mutex;
    std::condition_variable done;
    bool finished = false;
    std::exception_ptr error;

    void finish(std::exception_ptr failure) {
        {
            std::lock_guard lock(mutex);
            finished = true;
            error = std::move(failure);
        }
        done.notify_all();
    }
};

// Ends the caller's wait with an error when the executor drops the job without running it.
struct HandoffGuard {
    std::shared_ptr<Handoff> handoff;
    bool ran = false;
    ~HandoffGuard() {
        if (!ran) {
            handoff->finish(std::make_exception_ptr(
                std::logic_error("The main executor dropped a job without running it")));
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
    auto target = currentExecutor();
    if (!target) {
        fatalError("MainActor::post called before a main executor was installed");
    }
    target->post(std::move(job));
}

bool MainActor::tryPost(std::function<void()> job) {
    auto target = currentExecutor();
    if (!target) {
        return false;
    }
    target->post(std::move(job));
    return true;
}

void MainActor::runElsewhere(const std::function<void()>& operation) {
    auto handoff = std::make_shared<Handoff>();
    detail::TaskCore* callerTask = detail::currentTask();
    auto guard = std::make_shared<HandoffGuard>(handoff);
    post([guard, callerTask, &operation] {
        guard->ran = true;
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
    std::unique_lock lock(handoff->mutex);
    handoff->done.wait(lock, [&] { return handoff->finished; });
    if (handoff->error) {
        std::rethrow_exception(handoff->error);
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
