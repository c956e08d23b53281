#include "sdk/finder/tree/TreeFileFinderEngine.hpp"

#include "platform/concurrency/MainActor.hpp"
#include "platform/concurrency/Task.hpp"
#include "platform/dispatch/ThreadPool.hpp"

#include <atomic>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>
#include <unistd.h>

namespace sweepkit {

namespace {

thread_local bool onWalkThread = false;

// The engine's own thread, made on first use and kept for the life of the process. It runs one
// search at a time, for a caller that waits.
class WalkThread {
public:
    // The process this thread serves: a forked child has a copy of this state but not the thread.
    const pid_t process = ::getpid();

    bool run(const std::function<void()>& work) {
        std::unique_lock lock(mutex_);
        if (!started_) {
            try {
                std::thread([this] { serve(); }).detach();
            } catch (const std::system_error&) {
                return false;
            }
            started_ = true;
        }
        changed_.wait(lock, [&] { return !busy_; });
        busy_ = true;
        work_ = &work;
        task_ = velmor::detail::currentTask();
        changed_.notify_all();
        changed_.wait(lock, [&] { return work_ == nullptr && done_; });
        done_ = false;
        busy_ = false;
        std::exception_ptr error = std::move(error_);
        error_ = nullptr;
        changed_.notify_all();
        lock.unlock();
        if (error) {
            std::rethrow_exception(error);
        }
        return true;
    }

private:
    void serve() {
        onWalkThread = true;
        velmor::setCurrentThreadName("velmor.treewalk");
        std::unique_lock lock(mutex_);
        for (;;) {
            changed_.wait(lock, [&] { return work_ != nullptr; });
            const std::function<void()>& work = *work_;
            velmor::detail::TaskCore* task = task_;
            lock.unlock();
            std::exception_ptr error;
            {
                // The caller waits until the end, so its task outlives this scope.
                const velmor::detail::CurrentTaskScope scope(task);
                try {
                    work();
                } catch (...) {
                    error = std::current_exception();
                }
            }
            lock.lock();
            error_ = std::move(error);
            work_ = nullptr;
            task_ = nullptr;
            done_ = true;
            changed_.notify_all();
        }
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    bool started_ = false;
    bool busy_ = false;
    bool done_ = false;
    const std::function<void()>* work_ = nullptr;
    velmor::detail::TaskCore* task_ = nullptr;
    std::exception_ptr error_;
};

WalkThread& walkThread() {
    // Never destroyed: its thread may still wait on it while the process exits. A forked child
    // makes one of its own: the copy it inherited says a thread runs that the child does not have,
    // and its lock may have been held by a thread of the parent.
    static std::atomic<WalkThread*> current{nullptr};
    WalkThread* thread = current.load(std::memory_order_acquire);
    while (thread == nullptr || thread->process != ::getpid()) {
        auto* fresh = new WalkThread;
        if (current.compare_exchange_strong(thread, fresh, std::memory_order_acq_rel)) {
            return *fresh;
        }
        delete fresh;
    }
    return *thread;
}

} // namespace

const TreeFileFinderEngine& TreeFileFinderEngine::shared() {
    static const TreeFileFinderEngine engine;
    return engine;
}

bool TreeFileFinderEngine::isWalkThread() {
    return onWalkThread;
}

bool TreeFileFinderEngine::mayHandOff() {
    return !velmor::MainActor::isMainThread() && !velmor::Actor::isHoldingAny();
}

bool TreeFileFinderEngine::handOff(const std::function<void()>& work) {
    return walkThread().run(work);
}

} // namespace sweepkit
