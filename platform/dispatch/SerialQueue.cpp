#include "platform/dispatch/SerialQueue.hpp"

#include "platform/concurrency/MainThreadBlockCheck.hpp"
#include "platform/dispatch/ThreadPool.hpp"
#include "platform/dispatch/TimerService.hpp"
#include "platform/dispatch/UncaughtError.hpp"
#include "platform/error/FatalError.hpp"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace velmor {

namespace {

// The queues whose work the calling thread is running, innermost last.
thread_local std::vector<const SerialQueue::State*> runningQueues;

class RunningScope {
public:
    explicit RunningScope(const SerialQueue::State* queue) { runningQueues.push_back(queue); }
    ~RunningScope() { runningQueues.pop_back(); }
};

// A `sync` caller waiting for its turn: the queue is handed to it instead of running an item.
struct SyncTurn {
    std::mutex mutex;
    std::condition_variable granted;
    bool isGranted = false;
};

} // namespace

struct SerialQueue::State : std::enable_shared_from_this<SerialQueue::State> {
    struct Item {
        std::function<void()> work;
        std::shared_ptr<SyncTurn> turn;
    };

    explicit State(std::string label) : label(std::move(label)) {}

    const std::string label;
    std::mutex mutex;
    std::deque<Item> items;
    // A drainer or a `sync` caller holds the queue.
    bool held = false;

    void startDrain() {
        ThreadPool::shared().submit(label, [self = shared_from_this()] { self->drain(); });
    }

    void drain() {
        RunningScope scope(this);
        for (;;) {
            Item item;
            {
                std::lock_guard lock(mutex);
                if (items.empty()) {
                    held = false;
                    return;
                }
                item = std::move(items.front());
                items.pop_front();
            }
            if (item.turn) {
                // The queue passes to the waiting caller, which starts draining again when done.
                std::lock_guard lock(item.turn->mutex);
                item.turn->isGranted = true;
                item.turn->granted.notify_one();
                return;
            }
            runReportingUncaught("work on queue ", label, item.work);
        }
    }

    // Ends a `sync` caller's hold on the queue.
    void release() {
        {
            std::lock_guard lock(mutex);
            if (items.empty()) {
                held = false;
                return;
            }
            try {
                startDrain();
                return;
            } catch (const std::system_error&) {
                // No thread to hand the queue to: the items queued meanwhile were accepted, so
                // the caller that holds the queue runs them rather than strand them.
            }
        }
        drain();
    }
};

SerialQueue::SerialQueue(std::string label) : state_(std::make_shared<State>(std::move(label))) {}

const std::string& SerialQueue::label() const {
    return state_->label;
}

void SerialQueue::async(std::function<void()> work) const {
    std::function<void()> dropped;
    std::lock_guard lock(state_->mutex);
    state_->items.push_back({std::move(work), nullptr});
    if (!state_->held) {
        state_->held = true;
        try {
            state_->startDrain();
        } catch (...) {
            // Nothing drains the queue: the item is taken back and the caller hears why.
            dropped = std::move(state_->items.back().work);
            state_->items.pop_back();
            state_->held = false;
            throw;
        }
    }
}

void SerialQueue::asyncAfter(double seconds, std::function<void()> work) const {
    auto service = TimerService::current();
    service->schedule(service->deadlineAfter(seconds),
                      [queue = *this, work = std::move(work)]() mutable { queue.async(std::move(work)); });
}

bool SerialQueue::isCurrent() const {
    return std::find(runningQueues.begin(), runningQueues.end(), state_.get()) != runningQueues.end();
}

void SerialQueue::syncErased(const std::function<void()>& work) const {
#ifndef NDEBUG
    if (isCurrent()) {
        fatalError("sync called on queue " + state_->label + " from work that the queue is running");
    }
#endif
    std::shared_ptr<SyncTurn> turn;
    {
        std::lock_guard lock(state_->mutex);
        if (state_->held) {
            turn = std::make_shared<SyncTurn>();
            state_->items.push_back({nullptr, turn});
        } else {
            state_->held = true;
        }
    }
    if (turn) {
        detail::checkNotBlockingMain("SerialQueue::sync");
        std::unique_lock lock(turn->mutex);
        turn->granted.wait(lock, [&] { return turn->isGranted; });
    }
    RunningScope scope(state_.get());
    try {
        work();
    } catch (...) {
        state_->release();
        throw;
    }
    state_->release();
}

} // namespace velmor
