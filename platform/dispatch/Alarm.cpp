#include "platform/dispatch/Alarm.hpp"

namespace velmor {

Alarm::Alarm(double seconds) : Alarm(TimerService::current()->deadlineAfter(seconds)) {}

Alarm::Alarm(TimerService::TimePoint deadline)
    : service_(TimerService::current()), rung_(std::make_shared<std::atomic<bool>>(false)) {
    if (deadline == TimerService::TimePoint::max()) {
        return;
    }
    if (deadline <= service_->now()) {
        // Already due: ring now rather than wait for a clock that may never move (a manual one).
        rung_->store(true);
        source_.request_stop();
        return;
    }
    entry_ = service_->schedule(deadline, [source = source_, rung = rung_]() mutable {
        rung->store(true);
        source.request_stop();
    });
}

Alarm::~Alarm() {
    if (entry_) {
        service_->unschedule(*entry_);
    }
}

bool Alarm::hasRung() const {
    return rung_->load();
}

} // namespace velmor
