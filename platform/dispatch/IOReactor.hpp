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
// the queue given. A thread that waits for one piece of work of its own (a blocking program run)
// may instead serve a reactor of its own for it. SIGPIPE is blocked while a reactor writes, and a
// write that meets a pipe with no reader reports EPIPE while the pending signal is taken away: none
// reaches the process.
class IOReactor {
public:
    using Bytes = std::vector<std::uint8_t>;
    // Called with each piece read (possibly none); `done` is true once, at the end or an error,
    // with `error` the errno of a failed read, else 0.
    using ReadHandler = std::function<void(bool done, Bytes data, int error)>;
    // Called once with everything read, and the errno of a failed read (else 0).
    using CollectHandler = std::function<void(Bytes data, int error)>;
    // Called once the buffer is written whole (`error` 0) or a write fails (its errno).
    using WriteHandler = std::function<void(int error)>;

    static IOReactor& shared();

    // A reactor with no thread of its own, served by the thread that made it (`serveRound`): what
    // it watches wakes that thread directly. Whatever it still watches when it goes is handed over
    // to the shared reactor (see `handOver`). Throws `std::system_error` when the system has no
    // room for one.
    static std::unique_ptr<IOReactor> makeServedByCaller();
    ~IOReactor();

    // Waits until a watched descriptor is ready or `wake` is called, serves what is ready, and
    // queues the handlers it made ready. For a reactor served by its caller, on that thread only.
    void serveRound();
    // Ends the wait of a `serveRound`, or of the next one. Any thread may call it.
    void wake();
    // Moves everything still watched to `other`, which serves it from then on; on the serving
    // thread, between rounds.
    void handOver(IOReactor& other);

    // Each takes `descriptor` over: it is made non-blocking and closed when the channel ends, before
    // `cleanup` is queued after the last handler. Descriptors should be close-on-exec. A pipe read
    // from is widened (best effort) once data comes, so that each wake-up moves more at once.
    //
    // `readToEnd` hands each piece on as read, in a buffer of its own; `collectToEnd` reads straight
    // into one buffer on the reactor and queues one handler with the whole, for readers that only
    // want that: no copy and no queued work per piece. A large buffer may be given more capacity
    // than it holds (up to eight times, in address space that is never touched).
    void readToEnd(int descriptor, SerialQueue queue, ReadHandler handler,
                   std::function<void()> cleanup = {});
    void collectToEnd(int descriptor, SerialQueue queue, CollectHandler handler,
                      std::function<void()> cleanup = {});
    void writeAll(int descriptor, Bytes data, SerialQueue queue, WriteHandler handler,
                  std::function<void()> cleanup = {});
    // Queues `handler` once `descriptor` is readable. The descriptor stays the caller's and must stay
    // open until the handler has been queued.
    void whenReadable(int descriptor, SerialQueue queue, std::function<void()> handler);

    IOReactor(const IOReactor&) = delete;
    IOReactor& operator=(const IOReactor&) = delete;

    struct Watch;

private:
    struct ServedByCaller {};
    IOReactor();
    explicit IOReactor(ServedByCaller);
    // Handlers made ready while a round of events is served, queued together once it is served.
    using Ready = std::vector<std::pair<SerialQueue, std::function<void()>>>;

    static bool serveRead(const std::shared_ptr<Watch>& watch, int& error, Ready& ready);
    static bool serveCollect(const std::shared_ptr<Watch>& watch, int& error, Ready& ready);
    static bool serveWrite(const std::shared_ptr<Watch>& watch, int& error, Ready& ready);
    void add(int descriptor, std::uint32_t events, std::shared_ptr<Watch> watch);
    void serve();
    int epoll_ = -1;
    // An eventfd in the epoll set, written by `wake`.
    int wakeDescriptor_ = -1;
    Ready ready_;
    struct Watches;
    std::unique_ptr<Watches> watches_;
};

} // namespace velmor
