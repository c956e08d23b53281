#include "foundation/core/retry/Retry.hpp"

#include "platform/dispatch/Semaphore.hpp"

namespace velmor::detail {

void sleepBetweenRetries(double seconds) {
    // A semaphore that nobody signals: the wait ends at the deadline and only then.
    Semaphore never;
    never.waitFor(seconds);
}

} // namespace velmor::detail
