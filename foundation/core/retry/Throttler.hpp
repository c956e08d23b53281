#pragma once

#include "platform/dispatch/DispatchWorkItem.hpp"
#include "platform/dispatch/SerialQueue.hpp"
#include "platform/dispatch/TimerService.hpp"

#include <functional>
#include <memory>
#include <mutex>

namespace velmor {

// Limits how often a kind of work runs on a queue: each request replaces the one still waiting, so
// of a burst only the last runs. A request runs at once when the previous run started more than
// the minimum delay ago, else after the whole minimum delay. Times are on the current timer
// service's clock.
class Throttler : public std::enable_shared_from_this<Throttler> {
public:
    static std::shared_ptr<Throttler> make(double minimumDelay, SerialQueue queue);
    Throttler(const Throttler&) = delete;
    Throttler& operator=(const Throttler&) = delete;

    // Files a request to run `work` and returns at once. The work runs even when the throttler is
    // gone by then.
    void throttle(std::function<void()> work);

private:
    Throttler(double minimumDelay, SerialQueue queue);

    std::mutex workItemLock_;
    DispatchWorkItem workItem_{[] {}};
    std::mutex previousRunLock_;
    // When the latest run started; the distant past before the first.
    TimerService::TimePoint previousRun_ = TimerService::TimePoint::min();
    const SerialQueue queue_;
    const double minimumDelay_;
};

} // namespace velmor
