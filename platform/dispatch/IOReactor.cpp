#include "platform/dispatch/IOReactor.hpp"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <pthread.h>
#include <sys/epoll.h>
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

IOReactor::IOReactor() : watches_(new Watches) {
    epoll_ = ::epoll_create1(EPOLL_CLOEXEC);
    if (epoll_ < 0) {
        throw std::system_error(errno, std::generic_category(), "epoll_create1");
    }
    // Block SIGPIPE in the new thread only: it inherits the mask that is set while it starts.
    sigset_t pipeOnly;
    sigset_t previous;
    sigemptyset(&pipeOnly);
    sigaddset(&pipeOnly, SIGPIPE);
    ::pthread_sigmask(SIG_BLOCK, &pipeOnly, &previous);
    std::thread([this] { serve(); }).detach();
    ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
}

void IOReactor::add(int descriptor, std::uint32_t events, std::shared_ptr<Watch> watch) {
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
        ::fcntl(descriptor, F_SETFL, ::fcntl(descriptor, F_GETFL) | O_NONBLOCK);
    }
    return watch;
}

} // namespace

void IOReactor::readToEnd(int descriptor, SerialQueue queue, ReadHandler handler,
                          std::function<void()> cleanup) {
    auto watch = makeWatch(Watch::Kind::read, descriptor, std::move(queue));
    watch->onRead = std::move(handler);
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

void IOReactor::serve() {
    ::pthread_setname_np(::pthread_self(), "io-reactor");
    epoll_event events[64];
    while (true) {
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
            bool finished = false;
            int error = 0;
            if (watch->kind == Watch::Kind::readable) {
                finished = true;
            } else if (watch->kind == Watch::Kind::read) {
                Bytes data;
                std::uint8_t buffer[65536];
                // A bounded number of reads per wake-up keeps one busy pipe from starving the rest.
                for (int round = 0; round < 16; ++round) {
                    ssize_t n = ::read(watch->descriptor, buffer, sizeof buffer);
                    if (n > 0) {
                        data.insert(data.end(), buffer, buffer + n);
                    } else if (n == 0) {
                        finished = true;
                        break;
                    } else if (errno == EINTR) {
                        continue;
                    } else {
                        if (errno != EAGAIN) {
                            error = errno;
                            finished = true;
                        }
                        break;
                    }
                }
                if (!data.empty() || finished) {
                    post(watch->queue, [handler = watch->onRead, finished, data = std::move(data),
                                        error]() mutable { handler(finished, std::move(data), error); });
                }
            } else {
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
                finished = watch->written == watch->pending.size();
                if (finished) {
                    post(watch->queue, [handler = watch->onWrite, error] { handler(error); });
                }
            }
            if (finished) {
                ::epoll_ctl(epoll_, EPOLL_CTL_DEL, watch->descriptor, nullptr);
                {
                    std::lock_guard lock(watches_->mutex);
                    watches_->byId.erase(id);
                }
                if (watch->kind == Watch::Kind::readable) {
                    post(watch->queue, std::move(watch->onReadable));
                } else {
                    ::close(watch->descriptor);
                    if (watch->cleanup) {
                        post(watch->queue, std::move(watch->cleanup));
                    }
                }
            }
        }
    }
}

} // namespace velmor
