#include "platform/dispatch/IOReactor.hpp"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <map>
#include <memory>
#include <mutex>
#include <pthread.h>
#include <sys/epoll.h>
#include <sys/ioctl.h>
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
    enum class Kind { read, write, readable };
    Watch(Kind kind, int descriptor, SerialQueue queue)
        : kind(kind), descriptor(descriptor), queue(std::move(queue)) {}
    Kind kind;
    int descriptor;
    SerialQueue queue;
    ReadHandler onRead;
    WriteHandler onWrite;
    std::function<void()> onReadable;
    std::function<void()> cleanup;
    Bytes pending;
    std::size_t written = 0;
};

namespace {

// What one read of a read channel takes at most: the default size of a pipe.
constexpr std::size_t readSize = 64 << 10;

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

IOReactor::IOReactor() : epoll_(makeEpoll()), watches_(new Watches) {
    // Block SIGPIPE in the new thread only: it inherits the mask that is set while it starts.
    sigset_t pipeOnly;
    sigset_t previous;
    sigemptyset(&pipeOnly);
    sigaddset(&pipeOnly, SIGPIPE);
    ::pthread_sigmask(SIG_BLOCK, &pipeOnly, &previous);
    std::thread([this] { serve(); }).detach();
    ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
}

IOReactor::WatchId IOReactor::add(int descriptor, std::uint32_t events, std::shared_ptr<Watch> watch) {
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
    return id;
}

bool IOReactor::stopWatching(WatchId watch) {
    std::shared_ptr<Watch> stopped;
    {
        std::lock_guard lock(watches_->mutex);
        auto found = watches_->byId.find(watch);
        if (found == watches_->byId.end()) {
            return false;
        }
        stopped = std::move(found->second);
        watches_->byId.erase(found);
    }
    ::epoll_ctl(epoll_, EPOLL_CTL_DEL, stopped->descriptor, nullptr);
    return true;
}

void IOReactor::addChannel(int descriptor, std::uint32_t events, std::shared_ptr<Watch> watch) {
    try {
        add(descriptor, events, std::move(watch));
    } catch (...) {
        // Taken over all the same: nothing else will close it.
        ::close(descriptor);
        throw;
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

} // namespace

void IOReactor::readToEnd(int descriptor, SerialQueue queue, ReadHandler handler,
                          std::function<void()> cleanup) {
    auto watch = makeWatch(Watch::Kind::read, descriptor, std::move(queue));
    watch->onRead = std::move(handler);
    watch->cleanup = std::move(cleanup);
    addChannel(descriptor, EPOLLIN, std::move(watch));
}

void IOReactor::writeAll(int descriptor, Bytes data, SerialQueue queue, WriteHandler handler,
                         std::function<void()> cleanup) {
    auto watch = makeWatch(Watch::Kind::write, descriptor, std::move(queue));
    watch->onWrite = std::move(handler);
    watch->cleanup = std::move(cleanup);
    watch->pending = std::move(data);
    addChannel(descriptor, EPOLLOUT, std::move(watch));
}

IOReactor::WatchId IOReactor::whenReadable(int descriptor, SerialQueue queue, std::function<void()> handler) {
    auto watch = makeWatch(Watch::Kind::readable, descriptor, std::move(queue));
    watch->onReadable = std::move(handler);
    return add(descriptor, EPOLLIN, std::move(watch));
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

} // namespace

// Each serve step returns whether the channel has ended, with `error` the errno that ended it.

bool IOReactor::serveRead(const std::shared_ptr<Watch>& watch, int& error, Ready& ready) {
    // One read a wake-up, so that one busy pipe does not starve the others.
    Bytes piece(readSize);
    ssize_t n = readOnce(watch->descriptor, piece.data(), piece.size());
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

bool IOReactor::serveWrite(const std::shared_ptr<Watch>& watch, int& error, Ready& ready) {
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
    for (;;) {
        serveRound();
    }
}

void IOReactor::serveRound() {
    epoll_event events[64];
    int count = ::epoll_wait(epoll_, events, 64, -1);
    for (int i = 0; i < count; ++i) {
        std::uint64_t id = events[i].data.u64;
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
        case Watch::Kind::write:
            finished = serveWrite(watch, error, ready_);
            break;
        }
        if (finished) {
            {
                // A watch stopped meanwhile is its stopper's, descriptor and handler alike.
                std::lock_guard lock(watches_->mutex);
                if (watches_->byId.erase(id) == 0) {
                    continue;
                }
            }
            ::epoll_ctl(epoll_, EPOLL_CTL_DEL, watch->descriptor, nullptr);
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
