#pragma once

#include "foundation/core/async/TimeOutError.hpp"
#include "platform/concurrency/Task.hpp"
#include "platform/concurrency/TaskGroup.hpp"
#include "platform/dispatch/TimerService.hpp"

#include <type_traits>
#include <utility>

namespace velmor {

namespace detail {

// The point on `service`'s steady clock `seconds` from now: now itself for a time that is not
// above 0 (or not a number), `TimePoint::max()` (never) for one past what the clock can hold.
TimerService::TimePoint timeoutDeadline(const TimerService& service, double seconds);

} // namespace detail

// Runs `operation` on a child task while a timer child waits `seconds` on the timer service's
// steady clock (setting the system clock changes nothing). Returns the operation's value, or
// rethrows its error; throws `TimeOutError` when the time runs out first. Either way it returns only
// once both children have ended: `operation` must honour cancellation, else the call lasts as
// long as the operation, whose result is then dropped. A time that is not above 0 (or not a
// number) times out at once; one too long for the clock never does. A cancellation of the caller
// reaches both children, so the caller gets `CancellationError` (or whatever the operation
// delivers first).
template <typename F> std::invoke_result_t<F&> withTimeout(double seconds, F operation) {
    using T = std::invoke_result_t<F&>;
    auto deadline = detail::timeoutDeadline(*TimerService::current(), seconds);
    return withThrowingTaskGroup<T>([&](TaskGroup<T>& group) -> T {
        group.addTask([&operation]() -> T { return operation(); });
        group.addTask([deadline]() -> T {
            AnyTask::sleepUntil(deadline);
            AnyTask::checkCancellation();
            throw TimeOutError();
        });
        auto first = group.next();
        group.cancelAll();
        if constexpr (std::is_void_v<T>) {
            return;
        } else {
            return std::move(*first);
        }
    });
}

} // namespace velmor
