#include "platform/dispatch/IOReactor.hpp"

#include "platform/testing/Watchdog.hpp"

#include <atomic>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <future>
#include <gtest/gtest.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <thread>
#include <unistd.h>

namespace velmor {

namespace {

using Bytes = IOReactor::Bytes;

Bytes pattern(std::size_t size) {
    Bytes bytes(size);
    for (std::size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<std::uint8_t>(i * 31 + i / 4096);
    }
    return bytes;
}

struct Pipe {
    int read = -1;
    int write = -1;
    Pipe() {
        int ends[2];
        if (::pipe2(ends, O_CLOEXEC) == 0) {
            read = ends[0];
            write = ends[1];
        }
    }
};

// What a read channel delivered, as seen on its queue.
struct ReadOutcome {
    Bytes data;
    int doneCalls = 0;
    int error = -1;
    bool cleanedUpAfterDone = false;
};

// Reads `descriptor` to its end through a channel that hands on each piece.
std::future<ReadOutcome> readAll(int descriptor, const SerialQueue& queue) {
    auto outcome = std::make_shared<ReadOutcome>();
    auto promise = std::make_shared<std::promise<ReadOutcome>>();
    auto future = promise->get_future();
    IOReactor::shared().readToEnd(
        descriptor, queue,
        [outcome](bool done, Bytes data, int error) {
            outcome->data.insert(outcome->data.end(), data.begin(), data.end());
            if (done) {
                ++outcome->doneCalls;
                outcome->error = error;
            }
        },
        [outcome, promise] {
            outcome->cleanedUpAfterDone = outcome->doneCalls == 1;
            promise->set_value(*outcome);
        });
    return future;
}

std::future<int> writeAll(int descriptor, Bytes data, const SerialQueue& queue) {
    auto promise = std::make_shared<std::promise<int>>();
    auto future = promise->get_future();
    IOReactor::shared().writeAll(descriptor, std::move(data), queue,
                                 [promise](int error) { promise->set_value(error); });
    return future;
}

} // namespace

TEST(IOReactor, WritesAndReadsBuffersLargerThanAPipeWhole) {
    testing::Watchdog watchdog("pipe round trip");
    SerialQueue queue("io-test");
    // Several channels at once on one queue and on their own.
    std::vector<std::future<ReadOutcome>> reads;
    std::vector<std::future<int>> writes;
    std::vector<Bytes> sent;
    // The sizes fall on and beside the size of one read.
    for (std::size_t size :
         {std::size_t{0}, std::size_t{1}, std::size_t{65536}, std::size_t{65537}, std::size_t{8} << 20}) {
        Pipe pipe;
        ASSERT_GE(pipe.read, 0);
        sent.push_back(pattern(size));
        SerialQueue readQueue = size % 2 ? queue : SerialQueue("io-test-read");
        reads.push_back(readAll(pipe.read, readQueue));
        writes.push_back(writeAll(pipe.write, sent.back(), SerialQueue("io-test-write")));
    }
    for (std::size_t i = 0; i < sent.size(); ++i) {
        SCOPED_TRACE(::testing::Message() << sent[i].size());
        EXPECT_EQ(writes[i].get(), 0);
        ReadOutcome outcome = reads[i].get();
        EXPECT_EQ(outcome.data, sent[i]);
        EXPECT_EQ(outcome.error, 0);
        EXPECT_TRUE(outcome.cleanedUpAfterDone);
    }
}

TEST(IOReactor, AWriteToAClosedPipeReportsEpipeAndNoSignalReachesTheProcess) {
    testing::Watchdog watchdog("write to a closed pipe");
    {
        // Already closed, and closed by a reader that gives up part way.
        Pipe pipe;
        ::close(pipe.read);
        EXPECT_EQ(writeAll(pipe.write, pattern(1 << 20), SerialQueue("io-test")).get(), EPIPE);
    }
    {
        Pipe pipe;
        auto written = writeAll(pipe.write, pattern(1 << 20), SerialQueue("io-test"));
        std::uint8_t some[1000];
        ASSERT_GT(::read(pipe.read, some, sizeof some), 0);
        ::close(pipe.read);
        EXPECT_EQ(written.get(), EPIPE);
    }
    // SIGPIPE would have ended the test process; nor is one left waiting for another thread.
    sigset_t pending;
    sigemptyset(&pending);
    ::sigpending(&pending);
    EXPECT_FALSE(sigismember(&pending, SIGPIPE));
}

TEST(IOReactor, ReadinessHandlerRunsOnceTheDescriptorIsReadable) {
    testing::Watchdog watchdog("readiness");
    int event = ::eventfd(0, EFD_CLOEXEC);
    ASSERT_GE(event, 0);
    SerialQueue queue("io-test");
    std::promise<bool> fired;
    std::atomic<bool> signalled{false};
    IOReactor::shared().whenReadable(event, queue, [&] { fired.set_value(signalled.load()); });
    // Give the reactor a round with the descriptor not ready: a handler run now would say false.
    Pipe other;
    EXPECT_EQ(writeAll(other.write, pattern(10), queue).get(), 0);
    ::close(other.read);
    signalled = true;
    std::uint64_t one = 1;
    ASSERT_EQ(::write(event, &one, sizeof one), static_cast<ssize_t>(sizeof one));
    EXPECT_TRUE(fired.get_future().get());
    ::close(event);
}

TEST(IOReactor, AStoppedWatchLetsGoOfItsHandlerAndNeverRunsIt) {
    testing::Watchdog watchdog("stopping a watch");
    int event = ::eventfd(0, EFD_CLOEXEC);
    ASSERT_GE(event, 0);
    SerialQueue queue("io-test-stop");
    auto held = std::make_shared<int>(0);
    std::atomic<bool> ran{false};
    auto watch = IOReactor::shared().whenReadable(event, queue, [held, &ran] { ran = true; });
    EXPECT_TRUE(IOReactor::shared().stopWatching(watch));
    EXPECT_EQ(held.use_count(), 1) << "the handler is let go of at once";
    std::uint64_t one = 1;
    ASSERT_EQ(::write(event, &one, sizeof one), static_cast<ssize_t>(sizeof one));
    // A later watch on the same descriptor fires, and by then the stopped one would have too.
    std::promise<void> fired;
    auto later = IOReactor::shared().whenReadable(event, queue, [&] { fired.set_value(); });
    fired.get_future().get();
    queue.sync([] {});
    EXPECT_FALSE(ran);
    EXPECT_FALSE(IOReactor::shared().stopWatching(later)) << "its handler was queued already";
    ::close(event);
}

} // namespace velmor
