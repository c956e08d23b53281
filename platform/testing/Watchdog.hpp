#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>

namespace velmor::testing {

// Ends the test process with a message when the scope is not left within `seconds` of real time,
// so that a deadlock fails its test instead of hanging the run. The limit only bounds a broken
// test; a passing one never comes near it.
class Watchdog {
public:
    explicit Watchdog(std::string what, double seconds = 60) : what_(std::move(what)) {
        thread_ = std::thread([this, seconds] {
            std::unique_lock lock(mutex_);
            if (!disarmed_.wait_for(lock, std::chrono::duration<double>(seconds), [&] { return done_; })) {
                std::fprintf(stderr, "Watchdog: %s did not finish within %g s, most likely a deadlock\n",
                             what_.c_str(), seconds);
                std::fflush(stderr);
                std::_Exit(1);
            }
        });
    }
    ~Watchdog() {
        {
            std::lock_guard lock(mutex_);
            done_ = true;
        }
        disarmed_.notify_all();
        thread_.join();
    }
    Watchdog(const Watchdog&) = delete;
    Watchdog& operator=(const Watchdog&) = delete;

private:
    std::string what_;
    std::mutex mutex_;
    std::condition_variable disarmed_;
    bool done_ = false;
    std::thread thread_;
};

} // namespace velmor::testing
