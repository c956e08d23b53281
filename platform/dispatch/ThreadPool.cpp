#include "platform/dispatch/ThreadPool.hpp"

#include "platform/dispatch/UncaughtError.hpp"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <pthread.h>
#include <system_error>
#include <thread>

namespace velmor {

namespace {

constexpr auto idleLifetime = std::chrono::seconds(10);

struct Job {
    std::string label;
    std::function<void()> body;
    // Tells a job apart from the others, so that a submit whose thread failed can take it back.
    std::uint64_t number = 0;
};

} // namespace

struct ThreadPool::State {
    std::mutex mutex;
    std::condition_variable wake;
    std::deque<Job> jobs;
    std::size_t idle = 0;
    std::uint64_t nextNumber = 0;
};

ThreadPool& ThreadPool::shared() {
    // Never destroyed: detached workers may still wait on it while the process exits.
    static ThreadPool* pool = new ThreadPool();
    return *pool;
}

ThreadPool::ThreadPool() : state_(new State()) {}

void setCurrentThreadName(const std::string& name) {
    thread_local std::string current;
    std::string cut = name.substr(0, 15);
    if (cut != current) {
        ::pthread_setname_np(::pthread_self(), cut.c_str());
        current = std::move(cut);
    }
}

void ThreadPool::submit(std::string label, std::function<void()> job) {
    State& s = *state_;
    std::uint64_t number;
    bool spawn;
    {
        std::lock_guard lock(s.mutex);
        number = s.nextNumber++;
        s.jobs.push_back(Job{std::move(label), std::move(job), number});
        spawn = s.jobs.size() > s.idle;
    }
    if (!spawn) {
        s.wake.notify_one();
        return;
    }
    // No thread, or no memory to make one: the job is taken back unless a worker that came free has
    // started it meanwhile. The caller hears of the failure only when the job will never run; the
    // label of the job taken back, or nothing.
    auto takeBack = [&]() -> std::optional<std::string> {
        std::unique_lock lock(s.mutex);
        auto queued =
            std::find_if(s.jobs.begin(), s.jobs.end(), [&](const Job& j) { return j.number == number; });
        if (queued == s.jobs.end()) {
            return std::nullopt;
        }
        Job dropped = std::move(*queued);
        s.jobs.erase(queued);
        // What the job holds goes outside the lock: it may be work of its own to let go.
        lock.unlock();
        return std::move(dropped.label);
    };
    try {
        std::thread([this] { work(); }).detach();
    } catch (const std::system_error& error) {
        if (const std::optional<std::string> dropped = takeBack()) {
            throw std::system_error(error.code(), "Cannot start a thread for " + *dropped);
        }
    } catch (...) {
        if (takeBack()) {
            throw;
        }
    }
}

void ThreadPool::work() {
    State& s = *state_;
    std::unique_lock lock(s.mutex);
    for (;;) {
        if (s.jobs.empty()) {
            ++s.idle;
            bool woken = s.wake.wait_for(lock, idleLifetime, [&] { return !s.jobs.empty(); });
            --s.idle;
            if (!woken) {
                return;
            }
        }
        Job job = std::move(s.jobs.front());
        s.jobs.pop_front();
        lock.unlock();
        setCurrentThreadName(job.label);
        runReportingUncaught("work of ", job.label, job.body);
        job = {};
        lock.lock();
    }
}

} // namespace velmor
