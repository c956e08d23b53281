#pragma once

#include "platform/dispatch/SerialQueue.hpp"

#include <cstdint>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

namespace velmor {

// One thread waiting (epoll) on the descriptors the library waits on: pipes to read to their end or
// to write whole, and descriptors that become readable once (pidfds). Handlers and clean-ups run on
// the queue given. SIGPIPE is blocked on the reactor thread, and a write that meets a pipe with no
// reader reports EPIPE while the pending signal is taken away: none reaches the process.
class IOReactor {
public:
    using Bytes = std::vector<std::uint8_t>;
    // Called with each piece read (possibly none); `done` is true once, at the end or an error,
    // with `error` the errno of a failed read, else 0.
    using ReadHandler = std::function<void(bool done, Bytes data, int error)>;
    // Called once the buffer is written whole (`error` 0) or a write fails (its errno).
    using WriteHandler = std::function<void(int error)>;

    static IOReactor& shared();

    // Each takes `descriptor` over: it is made non-blocking and closed when the channel ends, before
    // `cleanup` is queued after the last handler, or when it throws `std::system_error` because
    // the descriptor cannot be watched. Descriptors should be close-on-exec.
    void readToEnd(int descriptor, SerialQueue queue, ReadHandler handler,
                   std::function<void()> cleanup = {});
    void writeAll(int descriptor, Bytes data, SerialQueue queue, WriteHandler handler,
                  std::function<void()> cleanup = {});
    // Names a watch of `whenReadable`, for `stopWatching`.
    using WatchId = std::uint64_t;
    // Queues `handler` once `descriptor` is readable. The descriptor stays the caller's and must stay
    // open until the handler has been queued or the watch stopped.
    WatchId whenReadable(int descriptor, SerialQueue queue, std::function<void()> handler);
    // Ends a watch of `whenReadable` whose handler has not been queued and lets go of the handler
    // here; false when it was queued already.
    bool stopWatching(WatchId watch);

    IOReactor(const IOReactor&) = delete;
    IOReactor& operator=(const IOReactor&) = delete;

    struct Watch;

private:
    IOReactor();
    // Handlers made ready while a round of events is served, queued together once it is served.
    using Ready = std::vector<std::pair<SerialQueue, std::function<void()>>>;

    static bool serveRead(const std::shared_ptr<Watch>& watch, int& error, Ready& ready);
    static bool serveWrite(const std::shared_ptr<Watch>& watch, int& error, Ready& ready);
    WatchId add(int descriptor, std::uint32_t events, std::shared_ptr<Watch> watch);
    // `add` for a channel, which owns its descriptor even when it cannot be watched.
    void addChannel(int descriptor, std::uint32_t events, std::shared_ptr<Watch> watch);
    void serve();
    // Waits until a watched descriptor is ready, serves what is ready, and queues the handlers it
    // made ready.
    void serveRound();
    int epoll_ = -1;
    Ready ready_;
    // Owned by the reactor, which is never destroyed: its thread may still run while statics go.
    struct Watches;
    Watches* watches_;
};

} // namespace velmor
