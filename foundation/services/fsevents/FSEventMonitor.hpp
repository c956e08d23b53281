#pragma once

#include "platform/fs/URL.hpp"

#include <functional>
#include <memory>

namespace velmor {

// Calls a closure when something changes at one file or folder, which need not exist yet: while it
// is missing, the nearest existing folder above it is watched and the watch moves down (or up) as
// folders come and go. Only that something changed is reported, never what. Observers run on the
// shared pool, never on the caller's thread.
class FSEventMonitor {
public:
    explicit FSEventMonitor(URL url);
    // Stops first; waits for a running call of the observer unless it is made from inside one.
    ~FSEventMonitor();
    FSEventMonitor(const FSEventMonitor&) = delete;
    FSEventMonitor& operator=(const FSEventMonitor&) = delete;

    static constexpr double defaultLatency = 0.5;

    void startMonitoring(std::function<void()> observer);
    // Replaces a running watch and observer. A negative latency is kept as given and used as its
    // absolute value.
    void startMonitoring(double latency, std::function<void()> observer);
    // Once it returns the observer is not called again (unless it is called from inside the
    // observer, which then runs to its end). Harmless when not monitoring.
    void stopMonitoring();

    const URL& urlToObserve() const;
    // The target when it is reachable, else its nearest reachable ancestor ("/" at worst).
    URL observedURL() const;
    double latency() const;
    // Whether a watch is running that sees every change (false when none could be set up, or when a
    // folder below the target could not be watched, which is logged; the rest is still reported).
    bool isWatching() const;

    // A test seam: called with the folder found, between its look-up and its watch, under the
    // monitor's lock (so it must not call the monitor).
    void setAfterLookUpForTesting(std::function<void(const URL&)> pause);

    struct State;

private:
    std::shared_ptr<State> state_;
};

// `url` when it is reachable, else the nearest reachable folder above it; "/" when none is.
URL nearestReachableURL(const URL& url);

} // namespace velmor
