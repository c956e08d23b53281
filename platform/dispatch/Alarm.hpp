#pragma once

#include "platform/dispatch/TimerService.hpp"

#include <atomic>
#include <memory>
#include <optional>
#include <stop_token>

namespace velmor {

// A stop source that the current timer service stops once `seconds` have passed. A wait that
// takes a stop token (`std::condition_variable_any`) gives up at the deadline with `token()`.
class Alarm {
public:
    explicit Alarm(double seconds);
    // Rings at `deadline` on the current timer service's clock; `TimePoint::max()` never rings.
    explicit Alarm(TimerService::TimePoint deadline);
    ~Alarm();
    Alarm(const Alarm&) = delete;
    Alarm& operator=(const Alarm&) = delete;

    std::stop_token token() const { return source_.get_token(); }
    // Stops the alarm early, for a wait that must end for another reason too.
    void stop() { source_.request_stop(); }
    bool hasRung() const;

private:
    std::shared_ptr<TimerService> service_;
    std::stop_source source_;
    std::shared_ptr<std::atomic<bool>> rung_;
    std::optional<TimerService::Id> entry_;
};

} // namespace velmor
