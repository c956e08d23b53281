#include "foundation/core/async/Timeout.hpp"

#include <chrono>

namespace velmor::detail {

TimerService::TimePoint timeoutDeadline(const TimerService& service, double seconds) {
    using TimePoint = TimerService::TimePoint;
    using Duration = TimerService::Clock::duration;
    TimePoint now = service.now();
    if (!(seconds > 0)) {
        return now;
    }
    // Compared as doubles before any conversion: a time past the clock's range (infinity
    // included) would overflow it.
    Duration room = TimePoint::max() - now;
    double ticks = seconds * (double(Duration::period::den) / double(Duration::period::num));
    if (!(ticks < double(room.count()))) {
        return TimePoint::max();
    }
    // Below the room's double, which is at most 2^63: the conversion stays in range. The double may
    // round the room up a little, so clamp once more.
    Duration wait(static_cast<Duration::rep>(ticks));
    return wait >= room ? TimePoint::max() : now + wait;
}

} // namespace velmor::detail
