#include "platform/dispatch/IOReactor.hpp"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <pthread.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <system_error>
#include <thread>
#include <unistd.h>

namespace velmor {

struct IOReactor::Watches {
    std::mutex mutex;
    std::map<std::uint64_t, std::shared_ptr<IOReactor::Watch>> byId;
    std::uint64_t next = 1;
};

struct IOReactor::Watch {
    enum class Kind { read, collect, write, readable };
    Watch(Kind kind, int descriptor, SerialQueue queue)
        : kind(kind), descriptor(descriptor), queue(std::move(queue)) {}
    Kind kind;
    int descriptor;
    SerialQueue queue;
    // What the epoll set waits for on the descriptor.
    std::uint32_t events = 0;
    ReadHandler onRead;
    CollectHandler onCollect;
    Bytes collected;
    WriteHandler onWrite;
    std::function<void()> onReadable;
    std::function<void()> cleanup;
    Bytes pending;
    std::size_t written = 0;
    // Whether the pipe a read channel serves has been widened (or tried): at its first data, so a
    // channel that ends with nothing read costs no widening.
    bool widened = false;
};

namespace {

// What a pipe a read channel serves is widened to once data comes: the most an ordinary user may
// set by default, so a fast writer fills it in fewer turns and each wake-up of the reactor moves up
// to this much.
// Pipes written to keep their size: how much a reader that stops early leaves unread stays as the
// system has it.
constexpr int widePipe = 1 << 20;
// A collecting channel starts with room for this much and grows eightfold when full: a short
// output costs little, and a large one is copied on growth about an eighth of its size in all.
constexpr std::size_t firstCollect = 64 << 10;
constexpr std::size_t collectGrowth = 8;
// The epoll id of the wake-up descriptor; watches are numbered from 1.
constexpr std::uint64_t wakeId = 0;
// From this size a collect buffer asks for huge pages: far fewer page faults as it fills.
constexpr std::size_t hugePageBuffer = 4 << 20;

void post(const SerialQueue& queue, std::function<void()> work) {
    try {
        queue.async(std::move(work));
    } catch (const std::system_error& error) {
        // The reactor cannot wait for threads; the work is lost and said so.
        std::fprintf(stderr, "IOReactor: cannot queue a handler on %s: %s\n", queue.label().c_str(),
                     error.what());
    }
}

// A write to a pipe with no reader leaves SIGPIPE pending on this thread, where it is blocked.
void consumePendingSigpipe() {
    sigset_t pipeOnly;
    sigemptyset(&pipeOnly);
    sigaddset(&pipeOnly, SIGPIPE);
    timespec zero{};
    while (::sigtimedwait(&pipeOnly, nullptr, &zero) == SIGPIPE) {
    }
}

// Set on the reactor's own thread, which keeps SIGPIPE blocked for its whole life.
thread_local bool sigpipeBlockedForGood = false;

// Blocks SIGPIPE on the calling thread for the scope, on a thread that serves a reactor of its own:
// a write to a pipe with no reader then leaves the signal pending, to be taken away, instead of
// ending the process.
class SigpipeBlocked {
public:
    SigpipeBlocked() : active_(!sigpipeBlockedForGood) {
        if (active_) {
            sigset_t pipeOnly;
            sigemptyset(&pipeOnly);
            sigaddset(&pipeOnly, SIGPIPE);
            ::pthread_sigmask(SIG_BLOCK, &pipeOnly, &previous_);
        }
    }
    ~SigpipeBlocked() {
        if (active_) {
            ::pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
        }
    }
    SigpipeBlocked(const SigpipeBlocked&) = delete;
    SigpipeBlocked& operator=(const SigpipeBlocked&) = delete;

private:
    bool active_;
    sigset_t previous_{};
};

} // namespace

IOReactor& IOReactor::shared() {
    // Never destroyed: pool work may still reach it while the process exits.
    static IOReactor* reactor = new IOReactor();
    return *reactor;
}

namespace {

int makeEpoll() {
    int epoll = ::epoll_create1(EPOLL_CLOEXEC);
    if (epoll < 0) {
        throw std::system_error(errno, std::generic_category(), "epoll_create1");
    }
    return epoll;
}

} // namespace

IOReactor::IOReactor() : epoll_(makeEpoll()), watches_(std::make_unique<Watches>()) {
    // Block SIGPIPE in the new thread only: it inherits the mask that is set while it starts.
    sigset_t pipeOnly;
    sigset_t previous;
    sigemptyset(&pipeOnly);
    sigaddset(&pipeOnly, SIGPIPE);
    ::pthread_sigmask(SIG_BLOCK, &pipeOnly, &previous);
    std::thread([this] { serve(); }).detach();
    ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
}

IOReactor::IOReactor(ServedByCaller) : epoll_(makeEpoll()), watches_(std::make_unique<Watches>()) {
    wakeDescriptor_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wakeDescriptor_ < 0) {
        int error = errno;
        ::close(epoll_);
        throw std::system_error(error, std::generic_category(), "eventfd");
    }
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.u64 = wakeId;
    if (::epoll_ctl(epoll_, EPOLL_CTL_ADD, wakeDescriptor_, &event) != 0) {
        int error = errno;
        ::close(wakeDescriptor_);
        ::close(epoll_);
        throw std::system_error(error, std::generic_category(), "epoll_ctl");
    }
}

std::unique_ptr<IOReactor> IOReactor::makeServedByCaller() {
    return std::unique_ptr<IOReactor>(new IOReactor(ServedByCaller{}));
}

IOReactor::~IOReactor() {
    // Only a reactor served by its caller ends; what it still watches goes on being served.
    handOver(shared());
    ::close(wakeDescriptor_);
    ::close(epoll_);
}

void IOReactor::wake() {
    if (wakeDescriptor_ >= 0) {
        std::uint64_t one = 1;
        [[maybe_unused]] auto written = ::write(wakeDescriptor_, &one, sizeof one);
    }
}

void IOReactor::handOver(IOReactor& other) {
    std::map<std::uint64_t, std::shared_ptr<Watch>> moving;
    {
        std::lock_guard lock(watches_->mutex);
        moving.swap(watches_->byId);
    }
    for (auto& [id, watch] : moving) {
        ::epoll_ctl(epoll_, EPOLL_CTL_DEL, watch->descriptor, nullptr);
        try {
            other.add(watch->descriptor, watch->events, watch);
        } catch (const std::system_error& error) {
            // Nothing will serve it: said, since its handler will never run.
            std::fprintf(stderr, "IOReactor: cannot hand descriptor %d over: %s\n", watch->descriptor,
                         error.what());
        }
    }
}

void IOReactor::add(int descriptor, std::uint32_t events, std::shared_ptr<Watch> watch) {
    watch->events = events;
    std::uint64_t id = 0;
    {
        std::lock_guard lock(watches_->mutex);
        id = watches_->next++;
        watches_->byId.emplace(id, watch);
    }
    epoll_event event{};
    event.events = events;
    event.data.u64 = id;
    if (::epoll_ctl(epoll_, EPOLL_CTL_ADD, descriptor, &event) != 0) {
        int error = errno;
        {
            std::lock_guard lock(watches_->mutex);
            watches_->byId.erase(id);
        }
        throw std::system_error(error, std::generic_category(), "epoll_ctl");
    }
}

namespace {

std::shared_ptr<IOReactor::Watch> makeWatch(IOReactor::Watch::Kind kind, int descriptor, SerialQueue queue) {
    auto watch = std::make_shared<IOReactor::Watch>(kind, descriptor, std::move(queue));
    if (kind != IOReactor::Watch::Kind::readable) {
        // One call where reading the flags and setting them back would take two.
        int nonBlocking = 1;
        ::ioctl(descriptor, FIONBIO, &nonBlocking);
    }
    return watch;
}

// Widens the pipe a read channel serves, once. Best effort: a user over the pipe memory limit, or a
// descriptor that is not a pipe, keeps the size it has.
void widenOnce(IOReactor::Watch& watch) {
    if (watch.widened) {
        return;
    }
    watch.widened = true;
    int size = ::fcntl(watch.descriptor, F_GETPIPE_SZ);
    if (size >= 0 && size < widePipe) {
        ::fcntl(watch.descriptor, F_SETPIPE_SZ, widePipe);
    }
}

} // namespace

void IOReactor::readToEnd(int descriptor, SerialQueue queue, ReadHandler handler,
                          std::function<void()> cleanup) {
    auto watch = makeWatch(Watch::Kind::read, descriptor, std::move(queue));
    watch->onRead = std::move(handler);
    watch->cleanup = std::move(cleanup);
    add(descriptor, EPOLLIN, std::move(watch));
}

void IOReactor::collectToEnd(int descriptor, SerialQueue queue, CollectHandler handler,
                             std::function<void()> cleanup) {
    auto watch = makeWatch(Watch::Kind::collect, descriptor, std::move(queue));
    watch->onCollect = std::move(handler);
    watch->cleanup = std::move(cleanup);
    add(descriptor, EPOLLIN, std::move(watch));
}

void IOReactor::writeAll(int descriptor, Bytes data, SerialQueue queue, WriteHandler handler,
                         std::function<void()> cleanup) {
    auto watch = makeWatch(Watch::Kind::write, descriptor, std::move(queue));
    watch->onWrite = std::move(handler);
    watch->cleanup = std::move(cleanup);
    watch->pending = std::move(data);
    add(descriptor, EPOLLOUT, std::move(watch));
}

void IOReactor::whenReadable(int descriptor, SerialQueue queue, std::function<void()> handler) {
    auto watch = makeWatch(Watch::Kind::readable, descriptor, std::move(queue));
    watch->onReadable = std::move(handler);
    add(descriptor, EPOLLIN, std::move(watch));
}

namespace {

// One read into `into`, retried when interrupted.
ssize_t readOnce(int descriptor, std::uint8_t* into, std::size_t size) {
    ssize_t n = 0;
    do {
        n = ::read(descriptor, into, size);
    } while (n < 0 && errno == EINTR);
    return n;
}

// How many bytes wait in a pipe: 0 at its end (or before anything came), 64 KiB when the
// descriptor cannot tell.
std::size_t pipeHolds(int descriptor) {
    int available = 0;
    if (::ioctl(descriptor, FIONREAD, &available) != 0) {
        return 64 << 10;
    }
    return static_cast<std::size_t>(std::max(available, 0));
}

// Asks for huge pages for the whole 2 MiB pages inside `size` bytes at `start`: far fewer page
// faults as a large buffer fills. Only a hint: without transparent huge pages it fills page by page.
void adviseHugePages(void* start, std::size_t size) {
    constexpr std::uintptr_t hugePage = 2 << 20;
    auto from = (reinterpret_cast<std::uintptr_t>(start) + hugePage - 1) & ~(hugePage - 1);
    auto to = (reinterpret_cast<std::uintptr_t>(start) + size) & ~(hugePage - 1);
    if (from < to) {
        ::madvise(reinterpret_cast<void*>(from), to - from, MADV_HUGEPAGE);
    }
}

// Makes room for at least `more` bytes after the end of `bytes` by a large step, or the smallest
// that memory allows (else throws `std::bad_alloc`).
void growCollect(IOReactor::Bytes& bytes, std::size_t more) {
    std::size_t needed = bytes.size() + more;
    std::size_t wanted = std::max(needed, bytes.empty() ? firstCollect : bytes.capacity() * collectGrowth);
    IOReactor::Bytes larger;
    try {
        larger.reserve(wanted);
    } catch (const std::bad_alloc&) {
        larger.reserve(std::max(needed, bytes.capacity() * 2));
    }
    // Advised before the bytes so far are copied in, so that the copy fills huge pages too.
    if (larger.capacity() >= hugePageBuffer) {
        adviseHugePages(larger.data(), larger.capacity());
    }
    larger.insert(larger.end(), bytes.begin(), bytes.end());
    bytes.swap(larger);
}

} // namespace

// Each serve step returns whether the channel has ended, with `error` the errno that ended it.

bool IOReactor::serveRead(const std::shared_ptr<Watch>& watch, int& error, Ready& ready) {
    // One read a wake-up, of all the pipe holds, into the buffer that is handed on.
    std::size_t holds = pipeHolds(watch->descriptor);
    if (holds > 0) {
        widenOnce(*watch);
    }
    std::size_t size = std::max<std::size_t>(holds, 1);
    Bytes piece(size);
    ssize_t n = readOnce(watch->descriptor, piece.data(), size);
    bool finished = n == 0;
    if (n < 0) {
        if (errno == EAGAIN) {
            return false;
        }
        error = errno;
        finished = true;
    }
    piece.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
    ready.emplace_back(watch->queue, [watch, finished, piece = std::move(piece), error]() mutable {
        watch->onRead(finished, std::move(piece), error);
    });
    return finished;
}

bool IOReactor::serveCollect(const std::shared_ptr<Watch>& watch, int& error, Ready& ready) {
    // One read a wake-up, of all the pipe holds, straight into the buffer the handler gets; the
    // resize zeroes those bytes just before the read writes them, while they are in the cache.
    auto& bytes = watch->collected;
    std::size_t used = bytes.size();
    std::size_t available = pipeHolds(watch->descriptor);
    if (available > 0) {
        widenOnce(*watch);
    }
    ssize_t n = 0;
    try {
        if (available == 0) {
            // At the end, most likely: a read says.
            std::uint8_t first = 0;
            n = readOnce(watch->descriptor, &first, 1);
            if (n > 0) {
                if (used == bytes.capacity()) {
                    growCollect(bytes, 1);
                }
                bytes.push_back(first);
            }
        } else {
            if (bytes.capacity() - used < available) {
                growCollect(bytes, available);
            }
            bytes.resize(used + available);
            n = readOnce(watch->descriptor, bytes.data() + used, available);
            bytes.resize(used + static_cast<std::size_t>(std::max<ssize_t>(n, 0)));
        }
        if (n > 0 || (n < 0 && errno == EAGAIN)) {
            return false;
        }
        if (n < 0) {
            error = errno;
        }
    } catch (const std::bad_alloc&) {
        // The output does not fit in memory: the channel ends with what it holds.
        error = ENOMEM;
    }
    ready.emplace_back(watch->queue,
                       [watch, error] { watch->onCollect(std::move(watch->collected), error); });
    return true;
}

bool IOReactor::serveWrite(const std::shared_ptr<Watch>& watch, int& error, Ready& ready) {
    const SigpipeBlocked blocked;
    while (watch->written < watch->pending.size()) {
        ssize_t n = ::write(watch->descriptor, watch->pending.data() + watch->written,
                            watch->pending.size() - watch->written);
        if (n >= 0) {
            watch->written += static_cast<std::size_t>(n);
        } else if (errno == EINTR) {
            continue;
        } else {
            if (errno != EAGAIN) {
                error = errno;
                if (error == EPIPE) {
                    consumePendingSigpipe();
                }
                watch->written = watch->pending.size();
            }
            break;
        }
    }
    bool finished = watch->written == watch->pending.size();
    if (finished) {
        ready.emplace_back(watch->queue, [handler = std::move(watch->onWrite), error] { handler(error); });
    }
    return finished;
}

void IOReactor::serve() {
    ::pthread_setname_np(::pthread_self(), "io-reactor");
    sigpipeBlockedForGood = true;
    for (;;) {
        serveRound();
    }
}

void IOReactor::serveRound() {
    epoll_event events[64];
    int count = ::epoll_wait(epoll_, events, 64, -1);
    for (int i = 0; i < count; ++i) {
        std::uint64_t id = events[i].data.u64;
        if (id == wakeId) {
            std::uint64_t calls = 0;
            [[maybe_unused]] auto read = ::read(wakeDescriptor_, &calls, sizeof calls);
            continue;
        }
        std::shared_ptr<Watch> watch;
        {
            std::lock_guard lock(watches_->mutex);
            auto found = watches_->byId.find(id);
            if (found == watches_->byId.end()) {
                continue;
            }
            watch = found->second;
        }
        int error = 0;
        bool finished = true;
        switch (watch->kind) {
        case Watch::Kind::readable:
            break;
        case Watch::Kind::read:
            finished = serveRead(watch, error, ready_);
            break;
        case Watch::Kind::collect:
            finished = serveCollect(watch, error, ready_);
            break;
        case Watch::Kind::write:
            finished = serveWrite(watch, error, ready_);
            break;
        }
        if (finished) {
            ::epoll_ctl(epoll_, EPOLL_CTL_DEL, watch->descriptor, nullptr);
            {
                std::lock_guard lock(watches_->mutex);
                watches_->byId.erase(id);
            }
            if (watch->kind == Watch::Kind::readable) {
                ready_.emplace_back(watch->queue, std::move(watch->onReadable));
            } else {
                ::close(watch->descriptor);
                if (watch->cleanup) {
                    ready_.emplace_back(watch->queue, std::move(watch->cleanup));
                }
            }
        }
    }
    // Queued only now, back to back: a program's end brings its streams' ends and its exit in one
    // round, and the thread the first wakes finds the rest queued instead of contending with the
    // reactor for the queue.
    for (auto& [queue, work] : ready_) {
        post(queue, std::move(work));
    }
    ready_.clear();
}

} // namespace velmor
