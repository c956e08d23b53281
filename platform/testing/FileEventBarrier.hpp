#pragma once

#include "platform/fsevents/InotifyHub.hpp"
#include "platform/testing/TemporaryDirectory.hpp"

#include <chrono>
#include <condition_variable>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <sys/inotify.h>

namespace velmor::testing {

// Tells a test when the file events of the changes it made so far have been handled. Events are
// read in order from the process's one inotify descriptor and handed on one at a time, and a watch
// starts its latency timer while it handles the first change of a batch; so once a marker file made
// afterwards has been seen, those timers are pending and the test may move the manual clock.
class FileEventBarrier {
public:
    FileEventBarrier() : listener_(std::make_shared<Listener>()) {
        watch_ = InotifyHub::shared().add(folder_.path(), IN_CREATE, listener_);
    }
    ~FileEventBarrier() {
        if (watch_ >= 0) {
            InotifyHub::shared().remove(watch_, listener_.get());
        }
    }
    FileEventBarrier(const FileEventBarrier&) = delete;
    FileEventBarrier& operator=(const FileEventBarrier&) = delete;

    // Returns once every change made before the call has been handled; false when the marker was
    // not seen within `seconds` of real time.
    bool wait(double seconds = 30) {
        if (watch_ < 0) {
            return false;
        }
        std::string name = "marker-" + std::to_string(++count_);
        std::ofstream(folder_ / name) << "x";
        std::unique_lock lock(listener_->mutex);
        return listener_->seen.wait_for(lock, std::chrono::duration<double>(seconds),
                                        [&] { return listener_->lastName == name; });
    }

private:
    struct Listener : InotifyHub::Listener {
        void handle(const InotifyHub::Event& event) override {
            {
                std::lock_guard lock(mutex);
                lastName = event.name;
            }
            seen.notify_all();
        }
        void overflow() override {}
        void watchEnded(int) override {}
        std::mutex mutex;
        std::condition_variable seen;
        std::string lastName;
    };

    TemporaryDirectory folder_;
    std::shared_ptr<Listener> listener_;
    int watch_ = -1;
    int count_ = 0;
};

} // namespace velmor::testing
