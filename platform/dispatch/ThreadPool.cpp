#include "platform/dispatch/ThreadPool.hpp"

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <exception>
#include <mutex>
#include <pthread.h>
#include <thread>

namespace velmor {

namespace {

constexpr auto idleLifetime = std::chrono::seconds(10);

struct Job {
    std::string label;
    std::function<void()> body;
};

} // namespace

struct ThreadPool::State {
    std::mutex mutex;
    std::condition_variable wake;
    std::deque<Job> jobs;
    std::size_t idle = 0;
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
    bool spawn;
    {
        std::lock_guard lock(s.mutex);
        s.jobs.push_back(Job{std::move(label), std::move(job)});
        spawn = s.jobs.size() > s.idle;
    }
    if (spawn) {
        std::thread([this] { work(); }).detach();
    } else {
        s.wake.notify_one();
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
        try {
            job.body();
        } catch (const std::exception& error) {
            std::fprintf(stderr, "Uncaught exception in work of %s: %s\n", job.label.c_str(), error.what());
        } catch (...) {
            std::fprintf(stderr, "Uncaught exception in work of %s\n", job.label.c_str());
        }
        job = {};
        lock.lock();
    }
}

} // namespace velmor
