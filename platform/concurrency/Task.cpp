#include "platform/concurrency/Task.hpp"

#include "platform/concurrency/MainActor.hpp"
#include "platform/dispatch/Alarm.hpp"
#include "platform/dispatch/ThreadPool.hpp"
#include "platform/error/FatalError.hpp"

#include <cstdio>
#include <string>

namespace velmor {

namespace detail {

namespace {
thread_local TaskCore* current = nullptr;
}

TaskCore::~TaskCore() {
    // Nobody asked for the result: say so rather than lose the error.
    if (error_ && !errorSeen_) {
        try {
            std::rethrow_exception(error_);
        } catch (const CancellationError&) {
        } catch (const std::exception& error) {
            std::fprintf(stderr, "A task ended with an error that nobody looked at: %s\n", error.what());
        } catch (...) {
            std::fprintf(stderr, "A task ended with an error that nobody looked at\n");
        }
    }
}

void TaskCore::linkTo(std::stop_token parent) {
    if (parent.stop_possible()) {
        parentLink_.emplace(std::move(parent), StopLink{stop_});
    }
}

void TaskCore::finish(std::exception_ptr error) {
    {
        std::lock_guard lock(mutex_);
        finished_ = true;
        error_ = std::move(error);
    }
    ended_.notify_all();
}

bool TaskCore::isFinished() {
    std::lock_guard lock(mutex_);
    return finished_;
}

std::exception_ptr TaskCore::waitForEnd(const char* what) {
    if (!isFinished()) {
        checkNotBlockingMain(what);
        HeldActorsRelease released;
        std::unique_lock lock(mutex_);
        ended_.wait(lock, [&] { return finished_; });
    }
    std::lock_guard lock(mutex_);
    errorSeen_ = true;
    return error_;
}

TaskCore* currentTask() {
    return current;
}

std::stop_token currentStopToken() {
    return current ? current->stopSource().get_token() : std::stop_token();
}

CurrentTaskScope::CurrentTaskScope(TaskCore* task) : previous_(current) {
    current = task;
}

CurrentTaskScope::~CurrentTaskScope() {
    current = previous_;
}

void launch(std::shared_ptr<TaskCore> core, std::function<void()> body) {
    ThreadPool::shared().submit("velmor.task", [core = std::move(core), body = std::move(body)]() mutable {
        std::exception_ptr error;
        {
            CurrentTaskScope scope(core.get());
            try {
                body();
            } catch (...) {
                error = std::current_exception();
            }
            // What the body holds is let go before anyone hears of the end: a waiter that then
            // drops its last reference to an object the body shared is the one that destroys it.
            body = nullptr;
        }
        core->finish(std::move(error));
    });
}

} // namespace detail

void AnyTask::cancel() const noexcept {
    if (core_) {
        core_->stopSource().request_stop();
    }
}

bool AnyTask::wasCancelled() const {
    return core_ && core_->stopSource().stop_requested();
}

bool AnyTask::isFinished() const {
    return core_ && core_->isFinished();
}

void AnyTask::wait() const {
    if (core_) {
        core_->waitForEnd("Task::wait");
    }
}

bool AnyTask::isCancelled() {
    auto* task = detail::currentTask();
    return task && task->stopSource().stop_requested();
}

void AnyTask::checkCancellation() {
    if (isCancelled()) {
        throw CancellationError();
    }
}

void AnyTask::sleep(double seconds) {
    sleepUntil(TimerService::current()->deadlineAfter(seconds));
}

void AnyTask::sleepUntil(TimerService::TimePoint deadline) {
    checkCancellation();
    Alarm alarm(deadline);
    if (!alarm.hasRung()) {
        detail::checkNotBlockingMain("Task::sleep");
    }
    std::optional<std::stop_callback<std::function<void()>>> onCancel;
    if (auto* task = detail::currentTask()) {
        onCancel.emplace(task->stopSource().get_token(), [&alarm] { alarm.stop(); });
    }
    std::mutex mutex;
    std::condition_variable_any never;
    std::unique_lock lock(mutex);
    never.wait(lock, alarm.token(), [] { return false; });
    if (!alarm.hasRung()) {
        throw CancellationError();
    }
}

} // namespace velmor
