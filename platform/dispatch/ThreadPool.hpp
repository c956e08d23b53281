#pragma once

#include <functional>
#include <string>

namespace velmor {

// The one process-wide pool that runs all queued work and all tasks. It is elastic: work goes to an
// idle thread when there is one, otherwise to a new thread, so work that blocks (a task waiting
// for its children) never starves the rest. Threads idle for a while retire.
class ThreadPool {
public:
    static ThreadPool& shared();

    // Runs `job` on a pool thread named `label` (cut to the 15 bytes a thread name can hold).
    // An exception that escapes `job` is reported on standard error with the label.
    // When no thread is idle and none can be made (the process is at its thread or memory limit),
    // it throws `std::system_error` naming the label and `job` is dropped: it never runs. Work
    // either starts or fails here, never both; so too when memory runs out (`std::bad_alloc`).
    void submit(std::string label, std::function<void()> job);

    ThreadPool(const ThreadPool&) = delete;
    ThreadPool& operator=(const ThreadPool&) = delete;

private:
    ThreadPool();
    struct State;
    void work();
    State* state_;
};

// Names the calling thread (cut to 15 bytes); a no-op when it already has that name.
void setCurrentThreadName(const std::string& name);

} // namespace velmor
