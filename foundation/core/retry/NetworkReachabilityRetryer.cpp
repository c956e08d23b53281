#include "foundation/core/retry/NetworkReachabilityRetryer.hpp"

#include "foundation/core/collections/LegacyMutex.hpp"
#include "platform/dispatch/DispatchTimer.hpp"
#include "platform/dispatch/TimerService.hpp"
#include "platform/format/DateFormatter.hpp"

#include <algorithm>
#include <mutex>

namespace velmor {

// Keeps the latest reachability of the network path and passes each update to a change handler.
class NetworkMonitor : public std::enable_shared_from_this<NetworkMonitor> {
public:
    using ChangeHandler = std::function<void(bool reachable)>;

    // Starts watching at once; updates come on the monitor's own queue.
    static std::shared_ptr<NetworkMonitor> make(std::shared_ptr<PathMonitor> monitor) {
        std::shared_ptr<NetworkMonitor> self(new NetworkMonitor(std::move(monitor)));
        self->monitor_->setPathUpdateHandler([weak = std::weak_ptr(self)](const NetworkPath& path) {
            if (auto monitor = weak.lock()) {
                monitor->pathUpdated(path);
            }
        });
        self->monitor_->start(self->queue_);
        return self;
    }
    ~NetworkMonitor() { monitor_->cancel(); }

    // Nothing until the first update.
    std::optional<bool> reachable() const {
        return reachableStore_.withLock([](const std::optional<bool>& value) { return value; });
    }
    void setChangeHandler(ChangeHandler handler) {
        reachabilityDidChange_.withLock(
            [&](std::optional<ChangeHandler>& installed) { installed = std::move(handler); });
    }

private:
    explicit NetworkMonitor(std::shared_ptr<PathMonitor> monitor) : monitor_(std::move(monitor)) {}

    void pathUpdated(const NetworkPath& path) {
        const bool reachable = path.status != NetworkPath::Status::unsatisfied;
        reachableStore_.withLock([&](std::optional<bool>& value) { value = reachable; });
        // Called outside the box's lock: the handler may read the reachability.
        auto handler = reachabilityDidChange_.withLock(
            [](const std::optional<ChangeHandler>& installed) { return installed; });
        if (handler && *handler) {
            (*handler)(reachable);
        }
    }

    const SerialQueue queue_{"NetworkMonitor"};
    const std::shared_ptr<PathMonitor> monitor_;
    LegacyMutex<std::optional<bool>> reachableStore_{std::nullopt};
    LegacyMutex<std::optional<ChangeHandler>> reachabilityDidChange_{std::nullopt};
};

std::shared_ptr<NetworkReachabilityRetryer>
NetworkReachabilityRetryer::make(double retryBaseTimeInterval, double maximalRetryTimeInterval,
                                 const LoggerFactory& loggerFactory, RetryBlock retryBlock,
                                 std::shared_ptr<PathMonitor> pathMonitor) {
    std::shared_ptr<NetworkReachabilityRetryer> self(
        new NetworkReachabilityRetryer(retryBaseTimeInterval, maximalRetryTimeInterval, loggerFactory,
                                       std::move(retryBlock), std::move(pathMonitor)));
    // Held weakly: the retryer owns the monitor, which owns the handler.
    self->networkMonitor_->setChangeHandler([weak = std::weak_ptr(self)](bool reachable) {
        if (auto retryer = weak.lock()) {
            retryer->reachabilityChanged(reachable);
        }
    });
    return self;
}

NetworkReachabilityRetryer::NetworkReachabilityRetryer(double retryBaseTimeInterval, double maximalRetryTimeInterval,
                                                       const LoggerFactory& loggerFactory, RetryBlock retryBlock,
                                                       std::shared_ptr<PathMonitor> pathMonitor)
    : networkMonitor_(NetworkMonitor::make(std::move(pathMonitor))),
      logger_(loggerFactory("NetworkReachabilityRetryer")), retryBaseTimeInterval_(retryBaseTimeInterval),
      maximalRetryTimeInterval_(maximalRetryTimeInterval), retryBlock_(std::move(retryBlock)) {}

// A pending timer holds the retryer, so none is left here; dropping the monitor stops the watch.
NetworkReachabilityRetryer::~NetworkReachabilityRetryer() = default;

void NetworkReachabilityRetryer::scheduleRetry() {
    if (networkMonitor_->reachable() == true) {
        double delay = 0;
        {
            std::lock_guard lock(mutex_);
            if (scheduler_) {
                return;
            }
            retryWhenNetworkReachable_ = false;
            delay = nextRetryInterval_.value_or(retryBaseTimeInterval_);
            // Never shorter than 5 seconds, and within the timer's reach.
            const double wait = boundedDelay(delay > 5.0 ? delay : 5.0);
            const std::uint64_t booking = ++booking_;
            auto timer = std::make_unique<DispatchTimer>(workQueue_);
            timer->setEventHandler([self = shared_from_this(), booking] { self->timerFired(booking); });
            timer->schedule(wait, std::nullopt, static_cast<double>(static_cast<std::int64_t>(wait) / 2));
            timer->resume();
            scheduler_ = std::move(timer);
            nextRetryInterval_ = std::min(maximalRetryTimeInterval_, 2 * delay);
        }
        logger_->debug([&] { return "Retrying in " + shortestDescription(delay) + " seconds."; });
        return;
    }
    logger_->debug([] {
        return std::string("NetworkReachabilityRetryer: Will retry when network path will be satisfied again.");
    });
    {
        std::lock_guard lock(mutex_);
        retryWhenNetworkReachable_ = true;
    }
    // The network may have come back between the look and the flag, its change passing the flag
    // by: the wait then ends here, as the change would have ended it.
    if (networkMonitor_->reachable() == true) {
        reachabilityChanged(true, false);
    }
}

void NetworkReachabilityRetryer::reachabilityChanged(bool reachable, bool log) {
    if (log) {
        logger_->info([&] {
            return std::string("Network reachability changed: ") + (reachable ? "reachable" : "NOT reachable");
        });
    }
    bool run = false;
    {
        std::lock_guard lock(mutex_);
        // The work that waited runs once, on the change to reachable.
        if (reachable && retryWhenNetworkReachable_) {
            retryWhenNetworkReachable_ = false;
            run = true;
        }
    }
    if (run) {
        workQueue_.async([weak = weak_from_this()] {
            if (auto self = weak.lock()) {
                self->runRetryBlock();
            }
        });
    }
}

void NetworkReachabilityRetryer::timerFired(std::uint64_t booking) {
    std::unique_ptr<DispatchTimer> fired;
    {
        std::lock_guard lock(mutex_);
        // A timer dropped by `stop()` while its call was already on its way: it must not run.
        if (!scheduler_ || booking != booking_) {
            return;
        }
        fired = std::move(scheduler_);
    }
    fired.reset();
    runRetryBlock();
}

void NetworkReachabilityRetryer::runRetryBlock() {
    RetryBlock block = retryBlock();
    if (block) {
        block();
    }
}

void NetworkReachabilityRetryer::resetRetryInterval() {
    std::lock_guard lock(mutex_);
    nextRetryInterval_.reset();
}

void NetworkReachabilityRetryer::stop() {
    std::unique_ptr<DispatchTimer> dropped;
    {
        std::lock_guard lock(mutex_);
        retryWhenNetworkReachable_ = false;
        dropped = std::move(scheduler_);
    }
    // Outside the lock: destroying the timer waits for a firing that is already running, and that
    // firing takes the lock.
    dropped.reset();
}

NetworkReachabilityRetryer::RetryBlock NetworkReachabilityRetryer::retryBlock() const {
    std::lock_guard lock(mutex_);
    return retryBlock_;
}

void NetworkReachabilityRetryer::setRetryBlock(RetryBlock retryBlock) {
    RetryBlock replaced;
    std::lock_guard lock(mutex_);
    replaced = std::exchange(retryBlock_, std::move(retryBlock));
}

} // namespace velmor
