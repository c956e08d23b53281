#include "foundation/core/retry/NetworkReachabilityRetryer.hpp"

#include "foundation/core/log/RecordingLogger.hpp"
#include "platform/dispatch/ManualTimerService.hpp"
#include "platform/testing/PrivateNetworkNamespace.hpp"
#include "platform/testing/Watchdog.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <limits>
#include <mutex>
#include <thread>

namespace velmor {

namespace {

using Status = NetworkPath::Status;
const std::string waitingText =
    "debug: NetworkReachabilityRetryer: Will retry when network path will be satisfied again.";

// A path monitor the test drives by hand. Until the first `deliver` the path is unknown.
class HandDrivenPathMonitor : public PathMonitor {
public:
    void setPathUpdateHandler(UpdateHandler handler) override {
        std::lock_guard lock(mutex_);
        handler_ = std::move(handler);
    }
    void start(SerialQueue queue) override {
        std::lock_guard lock(mutex_);
        queue_ = std::move(queue);
    }
    void cancel() override {
        std::lock_guard lock(mutex_);
        cancelled_ = true;
        handler_ = nullptr;
    }
    // Delivers `status` on the monitor's queue and waits until the handler is done with it.
    void deliver(Status status) {
        UpdateHandler handler;
        std::optional<SerialQueue> queue;
        {
            std::lock_guard lock(mutex_);
            handler = handler_;
            queue = queue_;
        }
        if (handler && queue) {
            queue->sync([&] { handler(NetworkPath{status}); });
        }
    }
    bool cancelled() {
        std::lock_guard lock(mutex_);
        return cancelled_;
    }

private:
    std::mutex mutex_;
    UpdateHandler handler_;
    std::optional<SerialQueue> queue_;
    bool cancelled_ = false;
};

// Counts the runs of the work, which come on the retryer's own queue.
class Runs {
public:
    NetworkReachabilityRetryer::RetryBlock block() {
        return [this] {
            // Told under the lock, so that a waiter that saw the count may destroy this at once.
            std::lock_guard lock(mutex_);
            ++count_;
            changed_.notify_all();
        };
    }
    // Waits (at most a generous real-time limit) until `count` runs happened, and gives the count.
    int waitFor(int count) {
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, std::chrono::seconds(20), [&] { return count_ >= count; });
        return count_;
    }
    // The count once work that was wrongly queued would have had a moment to run.
    int settled() {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        std::lock_guard lock(mutex_);
        return count_;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    int count_ = 0;
};

class NetworkReachabilityRetryerTest : public ::testing::Test {
protected:
    std::shared_ptr<ManualTimerService> clock = std::make_shared<ManualTimerService>();
    ScopedTimerService scope{clock};
    testing::Watchdog watchdog{"a network retryer test"};
    std::shared_ptr<testing::RecordingLogger> logger = std::make_shared<testing::RecordingLogger>();
    std::shared_ptr<HandDrivenPathMonitor> path = std::make_shared<HandDrivenPathMonitor>();
    Runs runs;
    std::vector<std::string> categories;

    std::shared_ptr<NetworkReachabilityRetryer> make(double base, double maximum) {
        return NetworkReachabilityRetryer::make(
            base, maximum,
            [&](const std::string& category) {
                categories.push_back(category);
                return logger;
            },
            runs.block(), path);
    }
    double secondsToNextDeadline() {
        return std::chrono::duration<double>(*clock->nextDeadline() - clock->now()).count();
    }
};

} // namespace

TEST_F(NetworkReachabilityRetryerTest, BeforeTheFirstPathUpdateItWaitsForTheNetwork) {
    auto retryer = make(4, 30);
    EXPECT_EQ(categories, std::vector<std::string>{"NetworkReachabilityRetryer"});
    retryer->scheduleRetry();
    EXPECT_EQ(logger->lines(), std::vector{waitingText});
    EXPECT_EQ(clock->pendingCount(), 0u) << "no timer";

    path->deliver(Status::satisfied);
    EXPECT_EQ(runs.waitFor(1), 1);
    EXPECT_EQ(logger->lines().back(), "info: Network reachability changed: reachable");
}

TEST_F(NetworkReachabilityRetryerTest, TimedRetriesDoubleUpToTheMaximumAndWaitAtLeastFiveSeconds) {
    constexpr double inf = std::numeric_limits<double>::infinity();
    constexpr double nan = std::numeric_limits<double>::quiet_NaN();
    struct Case {
        double base, maximum;
        std::vector<double> waits;
        std::vector<std::string> logged;
    } cases[] = {
        {4, 30, {5, 8, 16, 30, 30}, {"4.0", "8.0", "16.0", "30.0", "30.0"}},
        {2, 60, {5, 5, 8}, {"2.0", "4.0", "8.0"}},
        {10, 3, {10, 5, 5}, {"10.0", "3.0", "3.0"}},
        {0.00001, 60, {5}, {"1e-05"}},
        // Bad intervals still give a wait within the timer's reach.
        {1e16, 1e16, {TimerService::maximumDelay}, {"1e+16"}},
        {inf, inf, {TimerService::maximumDelay}, {"inf"}},
        {nan, nan, {5, 5}, {"nan", "nan"}},
        {-3, -3, {5, 5}, {"-3.0", "-6.0"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.base << ", " << c.maximum);
        // A clock of its own: the longest waits move it far. A path monitor of its own too: the
        // last case's retryer may be let go on its queue only now, and cancels the monitor it had.
        clock = std::make_shared<ManualTimerService>();
        ScopedTimerService caseScope(clock);
        Runs runs;
        auto logger = std::make_shared<testing::RecordingLogger>();
        auto casePath = std::make_shared<HandDrivenPathMonitor>();
        auto retryer = NetworkReachabilityRetryer::make(
            c.base, c.maximum, [&](const std::string&) { return logger; }, runs.block(), casePath);
        casePath->deliver(Status::satisfied);
        std::vector<double> waits;
        std::vector<std::string> expectedLines{"info: Network reachability changed: reachable"};
        for (std::size_t retry = 0; retry < c.waits.size(); ++retry) {
            retryer->scheduleRetry();
            expectedLines.push_back("debug: Retrying in " + c.logged[retry] + " seconds.");
            waits.push_back(secondsToNextDeadline());
            clock->advance(waits.back());
            EXPECT_EQ(runs.waitFor(static_cast<int>(retry) + 1), static_cast<int>(retry) + 1);
        }
        for (std::size_t i = 0; i < waits.size(); ++i) {
            EXPECT_DOUBLE_EQ(waits[i], c.waits[i]) << "retry " << i;
        }
        EXPECT_EQ(logger->lines(), expectedLines);
    }
}

TEST_F(NetworkReachabilityRetryerTest, ARetryWhileATimerIsPendingChangesNothing) {
    auto retryer = make(8, 60);
    path->deliver(Status::satisfied);
    retryer->scheduleRetry();
    auto lines = logger->lines().size();
    clock->advance(3);
    retryer->scheduleRetry();
    EXPECT_EQ(logger->lines().size(), lines);
    EXPECT_EQ(clock->pendingCount(), 1u);
    EXPECT_EQ(secondsToNextDeadline(), 5) << "the first timer stands";
    clock->advance(5);
    EXPECT_EQ(runs.waitFor(1), 1);
    retryer->scheduleRetry();
    EXPECT_EQ(secondsToNextDeadline(), 16) << "doubled once only";
    retryer->stop();
}

TEST_F(NetworkReachabilityRetryerTest, ResetMakesTheNextRetryWaitTheBaseAgain) {
    auto retryer = make(6, 100);
    path->deliver(Status::satisfied);
    int retries = 0;
    for (double wait : {6, 12, 24}) {
        retryer->scheduleRetry();
        EXPECT_EQ(secondsToNextDeadline(), wait);
        clock->advance(wait);
        // The firing lets go of its timer before the work runs.
        ASSERT_EQ(runs.waitFor(++retries), retries);
    }
    retryer->resetRetryInterval();
    retryer->scheduleRetry();
    EXPECT_EQ(secondsToNextDeadline(), 6);
    retryer->stop();
    EXPECT_EQ(clock->pendingCount(), 0u) << "stop drops the timer";
}

TEST_F(NetworkReachabilityRetryerTest, TheWaitingWorkRunsOnceWhenTheNetworkComesBack) {
    auto retryer = make(4, 30);
    path->deliver(Status::unsatisfied);
    retryer->scheduleRetry();
    path->deliver(Status::unsatisfied);
    EXPECT_EQ(runs.settled(), 0) << "not while the network is gone";
    path->deliver(Status::requiresConnection);
    EXPECT_EQ(runs.waitFor(1), 1);
    path->deliver(Status::unsatisfied);
    path->deliver(Status::satisfied);
    EXPECT_EQ(runs.settled(), 1) << "the wait ended with the first run";
    EXPECT_EQ(logger->lines(), (std::vector<std::string>{
                                   "info: Network reachability changed: NOT reachable",
                                   waitingText,
                                   "info: Network reachability changed: NOT reachable",
                                   "info: Network reachability changed: reachable",
                                   "info: Network reachability changed: NOT reachable",
                                   "info: Network reachability changed: reachable",
                               }));
}

TEST_F(NetworkReachabilityRetryerTest, AfterStopAChangeOnlyLogs) {
    auto retryer = make(4, 30);
    retryer->scheduleRetry();
    retryer->stop();
    path->deliver(Status::satisfied);
    EXPECT_EQ(runs.settled(), 0);
    EXPECT_EQ(logger->lines().back(), "info: Network reachability changed: reachable");
}

TEST_F(NetworkReachabilityRetryerTest, NothingRunsOrWatchesOnceTheRetryerIsGone) {
    auto retryer = make(4, 30);
    retryer->scheduleRetry();
    std::weak_ptr<NetworkReachabilityRetryer> weak = retryer;
    retryer.reset();
    EXPECT_TRUE(weak.expired()) << "the monitor's handler does not keep it";
    EXPECT_TRUE(path->cancelled()) << "its monitor stopped watching";
    path->deliver(Status::satisfied);
    EXPECT_EQ(runs.settled(), 0);
}

TEST_F(NetworkReachabilityRetryerTest, APendingTimerKeepsTheRetryerUntilItRuns) {
    auto retryer = make(4, 30);
    path->deliver(Status::satisfied);
    retryer->scheduleRetry();
    std::weak_ptr<NetworkReachabilityRetryer> weak = retryer;
    retryer.reset();
    EXPECT_FALSE(weak.expired());
    clock->advance(5);
    EXPECT_EQ(runs.waitFor(1), 1);
}

TEST(NetworkReachabilityRetryerKernelTest, WaitingWorkRunsWhenADefaultRouteAppears) {
    testing::Watchdog watchdog("the network retryer in a private namespace", 120);
    std::optional<std::string> cannotLink;
    auto skipped = testing::runInPrivateNetworkNamespace([&] {
        using testing::ip;
        auto logger = std::make_shared<testing::RecordingLogger>();
        Runs runs;
        // The kernel's monitor, made on this thread, watches the private namespace.
        auto retryer =
            NetworkReachabilityRetryer::make(5, 60, [&](const std::string&) { return logger; }, runs.block());
        // The namespace has no way out: whether or not the first update came yet, the work waits.
        retryer->scheduleRetry();
        EXPECT_EQ(runs.settled(), 0);
        if (!ip("link add velmor0 type veth peer name velmor1")) {
            cannotLink = "cannot make a virtual Ethernet pair here";
            return;
        }
        ASSERT_TRUE(ip("link set velmor1 up"));
        ASSERT_TRUE(ip("link set velmor0 up"));
        ASSERT_TRUE(ip("addr add 10.77.0.1/24 dev velmor0"));
        ASSERT_TRUE(ip("route add default via 10.77.0.2 dev velmor0"));
        EXPECT_EQ(runs.waitFor(1), 1);
        EXPECT_EQ(logger->lines().back(), "info: Network reachability changed: reachable");
    });
    if (skipped || cannotLink) {
        GTEST_SKIP() << skipped.value_or(cannotLink.value_or(""));
    }
}

} // namespace velmor
