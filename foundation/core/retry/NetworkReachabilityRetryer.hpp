#pragma once

#include "foundation/core/collections/NonRecursiveMutex.hpp"
#include "foundation/core/log/Logger.hpp"
#include "platform/dispatch/SerialQueue.hpp"
#include "platform/network/NetlinkPathMonitor.hpp"

#include <functional>
#include <memory>
#include <optional>

namespace velmor {

class DispatchTimer;
class NetworkMonitor;

// Repeats a piece of network work with growing pauses, but only while the network is usable. Its
// owner calls `scheduleRetry()` after each failure: with the network reachable the work runs after
// a delay that doubles from one retry to the next up to the maximum, and is never shorter than 5
// seconds; otherwise it runs once the network becomes reachable. `resetRetryInterval()` or
// `stop()` after success.
//
// The work runs on a serial queue of the retryer, never twice at once, and never while the lock
// that guards the retryer's state is held, so it may call the retryer. A pending timer keeps the
// retryer alive; once the retryer is gone it stops watching the network.
class NetworkReachabilityRetryer : public std::enable_shared_from_this<NetworkReachabilityRetryer> {
public:
    using RetryBlock = std::function<void()>;

    // `loggerFactory` is called once, with "NetworkReachabilityRetryer". The intervals (seconds)
    // are taken as they are. `pathMonitor` tells the network path; by default the kernel's, which
    // watches the calling thread's network namespace (it throws `std::system_error` when it cannot
    // open its sockets).
    static std::shared_ptr<NetworkReachabilityRetryer>
    make(double retryBaseTimeInterval, double maximalRetryTimeInterval, const LoggerFactory& loggerFactory,
         RetryBlock retryBlock,
         std::shared_ptr<PathMonitor> pathMonitor = std::make_shared<NetlinkPathMonitor>());
    ~NetworkReachabilityRetryer();
    NetworkReachabilityRetryer(const NetworkReachabilityRetryer&) = delete;
    NetworkReachabilityRetryer& operator=(const NetworkReachabilityRetryer&) = delete;

    void scheduleRetry();
    // The next timed retry waits the base interval again; a pending one stays as it is.
    void resetRetryInterval();
    // No longer waits for the network, and drops the pending timed retry.
    void stop();

    RetryBlock retryBlock() const;
    void setRetryBlock(RetryBlock retryBlock);

private:
    NetworkReachabilityRetryer(double retryBaseTimeInterval, double maximalRetryTimeInterval,
                               const LoggerFactory& loggerFactory, RetryBlock retryBlock,
                               std::shared_ptr<PathMonitor> pathMonitor);
    // `log` is false when no change came, only a late look at the reachability.
    void reachabilityChanged(bool reachable, bool log = true);
    void timerFired(std::uint64_t booking);
    void runRetryBlock();

    std::shared_ptr<NetworkMonitor> networkMonitor_;
    std::shared_ptr<Logger> logger_;
    const double retryBaseTimeInterval_;
    const double maximalRetryTimeInterval_;
    // Where the work runs, whether a timer or the network started it.
    const SerialQueue workQueue_{"NetworkReachabilityRetryer"};

    mutable NonRecursiveMutex<> mutex_{"NetworkReachabilityRetryer"};
    std::unique_ptr<DispatchTimer> scheduler_;
    // Tells the pending timer's firing from that of one dropped while its call was on its way.
    std::uint64_t booking_ = 0;
    bool retryWhenNetworkReachable_ = false;
    std::optional<double> nextRetryInterval_;
    RetryBlock retryBlock_;
};

} // namespace velmor
