#include "foundation/services/fsevents/FSEventMonitor.hpp"

#include "platform/fsevents/FSEventStream.hpp"

#include <cmath>
#include <mutex>
#include <sys/stat.h>
#include <utility>

namespace velmor {

namespace {

bool isReachable(const URL& url) {
    struct ::stat record {};
    return ::stat(url.path().c_str(), &record) == 0;
}

} // namespace

URL nearestReachableURL(const URL& url) {
    URL current = url;
    while (!isReachable(current)) {
        if (current.path() == "/") {
            break;
        }
        // Without the trailing slash a folder URL carries, so that it compares equal to the same
        // folder given as a target.
        current = URL::fileURL(current.deletingLastPathComponent().path());
    }
    return current;
}

struct FSEventMonitor::State : std::enable_shared_from_this<State> {
    explicit State(URL url) : urlToObserve(std::move(url)), observedURL(nearestReachableURL(urlToObserve)) {}

    void start(double newLatency, std::function<void()> newObserver) {
        stop();
        {
            std::lock_guard guard(lock);
            observer = std::move(newObserver);
            latency = newLatency;
        }
        watchNearest();
    }

    // Watches the target, or the nearest folder above it while it is missing. A folder made between
    // the look-up and the watch would never be reported to that watch, so once it is in place the
    // look-up is made again, and a closer folder is watched instead.
    void watchNearest() {
        while (true) {
            std::unique_ptr<FSEventStream> replaced;
            bool settled = false;
            {
                std::lock_guard guard(lock);
                observedURL = nearestReachableURL(urlToObserve);
                if (afterLookUp) {
                    afterLookUp(observedURL);
                }
                auto scope = observedURL == urlToObserve ? FSEventStream::Scope::path
                                                         : FSEventStream::Scope::folderEntries;
                std::weak_ptr<State> weak = weak_from_this();
                auto stream = std::make_unique<FSEventStream>(
                    observedURL.path(), std::fabs(latency), scope,
                    [weak] {
                        // Holding the state keeps it alive should its monitor end inside the observer.
                        if (auto state = weak.lock()) {
                            state->changed();
                        }
                    },
                    shortfallLog);
                if (!stream->start()) {
                    stream.reset();
                }
                // Another start may have raced in since the stop; its stream goes.
                replaced = std::exchange(handle, std::move(stream));
                settled = nearestReachableURL(urlToObserve) == observedURL;
            }
            // Stopped outside the lock: the stop waits for a delivery, which takes the lock.
            replaced.reset();
            if (settled) {
                return;
            }
        }
    }

    void stop() {
        std::unique_ptr<FSEventStream> stream;
        std::function<void()> released;
        {
            std::lock_guard guard(lock);
            stream = std::move(handle);
            released = std::move(observer);
            observer = nullptr;
        }
        if (stream) {
            stream->stop();
        }
    }

    void changed() {
        URL observed;
        std::function<void()> currentObserver;
        double currentLatency = 0;
        // The watched folder went away (or moved): the watch sees nothing more, even once a folder
        // of that name is made again, so it starts anew from the nearest folder there is.
        bool folderLost = false;
        {
            std::lock_guard guard(lock);
            observed = observedURL;
            currentObserver = observer;
            currentLatency = latency;
            folderLost = handle && handle->lostItsFolder();
        }
        if (observed == urlToObserve) {
            if (currentObserver) {
                currentObserver();
            }
            if (!folderLost) {
                return;
            }
        } else if (!folderLost && nearestReachableURL(urlToObserve) == observed) {
            // A change in the watched folder that brought the target no closer.
            return;
        } else if (isReachable(urlToObserve) && currentObserver) {
            currentObserver();
        }
        if (!currentObserver) {
            currentObserver = [] {};
        }
        start(currentLatency, std::move(currentObserver));
    }

    const URL urlToObserve;
    mutable std::mutex lock;
    URL observedURL;
    std::unique_ptr<FSEventStream> handle;
    std::function<void()> observer;
    double latency = 0;
    std::function<void(const URL&)> afterLookUp;
    // Shared by the streams of one monitor: a shortfall is logged once, however often it moves.
    const std::shared_ptr<std::once_flag> shortfallLog = std::make_shared<std::once_flag>();
};

FSEventMonitor::FSEventMonitor(URL url) : state_(std::make_shared<State>(std::move(url))) {}

FSEventMonitor::~FSEventMonitor() {
    stopMonitoring();
}

void FSEventMonitor::startMonitoring(std::function<void()> observer) {
    startMonitoring(defaultLatency, std::move(observer));
}

void FSEventMonitor::startMonitoring(double latency, std::function<void()> observer) {
    state_->start(latency, std::move(observer));
}

void FSEventMonitor::stopMonitoring() {
    state_->stop();
}

const URL& FSEventMonitor::urlToObserve() const {
    return state_->urlToObserve;
}

URL FSEventMonitor::observedURL() const {
    std::lock_guard guard(state_->lock);
    return state_->observedURL;
}

double FSEventMonitor::latency() const {
    std::lock_guard guard(state_->lock);
    return state_->latency;
}

bool FSEventMonitor::isWatching() const {
    std::lock_guard guard(state_->lock);
    return state_->handle != nullptr && state_->handle->isComplete();
}

void FSEventMonitor::setAfterLookUpForTesting(std::function<void(const URL&)> pause) {
    std::lock_guard guard(state_->lock);
    state_->afterLookUp = std::move(pause);
}

} // namespace velmor
