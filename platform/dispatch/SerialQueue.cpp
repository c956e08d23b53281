#include "platform/dispatch/SerialQueue.hpp"

#include "platform/concurrency/MainThreadBlockCheck.hpp"
#include "platform/dispatch/IOReactor.hpp"
#include "platform/dispatch/ThreadPool.hpp"
#include "platform/dispatch/TimerService.hpp"
#include "platform/dispatch/UncaughtError.hpp"
#include "platform/error/FatalError.hpp"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdint>
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

// A thread lent to a queue. It sleeps on `calls` rather than on a condition variable under the
// queue's lock: woken, it finds its answer in `holdsQueue` and starts on the work, instead of first
// waiting for the queue's lock that the thread which woke it may still hold. A thread that serves a
// reactor of its own waits in that reactor instead, and is woken through it.
struct SerialQueue::Loan::Lender {
    explicit Lender(IOReactor* served) : served(served) {}

    IOReactor* const served;
    const std::thread::id thread = std::this_thread::get_id();
    // The queue was handed to this thread and its work not yet run. Set under the queue's lock by
    // the thread that hands it over; cleared only by the lent thread itself.
    std::atomic<bool> holdsQueue = false;
    // Bumped for every reason the lent thread should look again: the queue handed over, a stop.
    std::atomic<std::uint32_t> calls = 0;

    void call() {
        calls.fetch_add(1);
        if (served == nullptr) {
            calls.notify_one();
        } else if (std::this_thread::get_id() != thread) {
            // Work the thread queues for itself while it serves needs no wake-up.
            served->wake();
        }
    }

    // Until the next call, or at least one round of the reactor served.
    void wait(std::uint32_t seen) {
        if (served == nullptr) {
            calls.wait(seen);
        } else {
            served->serveRound();
        }
    }
};

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
    // The thread lent to the queue, if any.
    Loan::Lender* lender = nullptr;

    void startDrain() {
        ThreadPool::shared().submit(label, [self = shared_from_this()] { self->drain(); });
    }

    // Under `mutex`, once the queue is held for items waiting: they run on the thread lent to the
    // queue, else on a pool thread.
    void hand() {
        if (lender) {
            lender->holdsQueue = true;
            lender->call();
            return;
        }
        startDrain();
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
                hand();
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
            state_->hand();
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

SerialQueue::Loan::Loan(const SerialQueue& queue, IOReactor* served)
    : state_(queue.state_), lender_(std::make_unique<Lender>(served)) {
    std::lock_guard lock(state_->mutex);
    if (state_->lender) {
        fatalError("a second thread lent to queue " + state_->label);
    }
    state_->lender = lender_.get();
}

SerialQueue::Loan::~Loan() {
    bool holdsQueue = false;
    {
        std::lock_guard lock(state_->mutex);
        state_->lender = nullptr;
        holdsQueue = lender_->holdsQueue.exchange(false);
    }
    if (holdsQueue) {
        // Handed over but not run: passed on the way a `sync` caller passes the queue on.
        state_->release();
    }
}

void SerialQueue::Loan::runUntil(const std::function<bool()>& finished, std::stop_token stop) {
    // Runs on the stopping thread while this call is still waiting (the callback's end is awaited
    // before the call returns), so the lender is alive; a stop already requested runs it at once.
    std::stop_callback wake(stop, [this] { lender_->call(); });
    for (;;) {
        for (;;) {
            // Read before the checks: a call made after them changes it, so the wait returns.
            std::uint32_t seen = lender_->calls.load();
            if (lender_->holdsQueue.load() || stop.stop_requested()) {
                break;
            }
            lender_->wait(seen);
        }
        if (!lender_->holdsQueue.exchange(false)) {
            return;
        }
        state_->drain();
        if (finished()) {
            return;
        }
    }
}

} // namespace velmor
