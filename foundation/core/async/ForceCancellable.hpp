#pragma once

#include "platform/concurrency/CancellationError.hpp"
#include "platform/concurrency/Task.hpp"

#include <exception>
#include <type_traits>
#include <utility>

namespace velmor {

// Runs `operation` on a task of its own and waits for it, but lets the caller walk away: when the
// calling task is cancelled (also before the call), the call throws `CancellationError` at once,
// whether or not the operation has stopped. The operation is cancelled too and runs on until it
// notices; what it delivers then is dropped. So `operation` may outlive the call: it must own
// everything it uses (capture by value, or share ownership), never refer to the caller's locals.
// Otherwise the call returns the operation's value or rethrows its error.
template <typename F> std::invoke_result_t<F&> forceCancellable(F operation) {
    using T = std::invoke_result_t<F&>;
    // Ends when the worker is done or the caller is cancelled; it sleeps in long steps, since every
    // sleep is cut short by its cancellation.
    Task<void> waiter = Task<void>::start([] {
        try {
            while (!AnyTask::isCancelled()) {
                AnyTask::sleep(10);
            }
        } catch (const CancellationError&) {
        }
    });
    Task<T> worker;
    try {
        worker = Task<T>::start([waiter, operation = std::move(operation)]() mutable -> T {
            struct ReleaseWaiter {
                Task<void> waiter;
                ~ReleaseWaiter() { waiter.cancel(); }
            } release{waiter};
            return operation();
        });
    } catch (...) {
        waiter.cancel();
        throw;
    }
    withCancellationHandler([&] { waiter.wait(); },
                            [&]() noexcept {
                                waiter.cancel();
                                worker.cancel();
                            });
    AnyTask::checkCancellation();
    return worker.value();
}

} // namespace velmor
