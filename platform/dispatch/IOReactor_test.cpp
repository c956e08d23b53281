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

// Reads `descriptor` to its end through a channel that hands on each piece, or one that hands the
// whole over once.
std::future<ReadOutcome> readAll(int descriptor, const SerialQueue& queue, bool collecting) {
    auto outcome = std::make_shared<ReadOutcome>();
    auto promise = std::make_shared<std::promise<ReadOutcome>>();
    auto future = promise->get_future();
    auto cleanup = [outcome, promise] {
        outcome->cleanedUpAfterDone = outcome->doneCalls == 1;
        promise->set_value(*outcome);
    };
    auto end = [outcome](int error) {
        ++outcome->doneCalls;
        outcome->error = error;
    };
    if (collecting) {
        IOReactor::shared().collectToEnd(
            descriptor, queue,
            [outcome, end](Bytes data, int error) {
                outcome->data = std::move(data);
                end(error);
            },
            cleanup);
    } else {
        IOReactor::shared().readToEnd(
            descriptor, queue,
            [outcome, end](bool done, Bytes data, int error) {
                outcome->data.insert(outcome->data.end(), data.begin(), data.end());
                if (done) {
                    end(error);
                }
            },
            cleanup);
    }
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
    // Both kinds of read channel; the sizes fall on and beside the steps a collecting channel
    // grows by.
    for (std::size_t size :
         {std::size_t{0}, std::size_t{1}, std::size_t{65536}, std::size_t{65537}, std::size_t{8} << 20}) {
        for (bool collecting : {false, true}) {
            Pipe pipe;
            ASSERT_GE(pipe.read, 0);
            sent.push_back(pattern(size));
            SerialQueue readQueue = size % 2 ? queue : SerialQueue("io-test-read");
            reads.push_back(readAll(pipe.read, readQueue, collecting));
            writes.push_back(writeAll(pipe.write, sent.back(), SerialQueue("io-test-write")));
        }
    }
    for (std::size_t i = 0; i < sent.size(); ++i) {
        SCOPED_TRACE(::testing::Message() << sent[i].size() << (i % 2 ? " collected" : " in pieces"));
        EXPECT_EQ(writes[i].get(), 0);
        ReadOutcome outcome = reads[i].get();
        EXPECT_EQ(outcome.data, sent[i]);
        EXPECT_EQ(outcome.error, 0);
        EXPECT_TRUE(outcome.cleanedUpAfterDone);
    }
}

TEST(IOReactor, AReadPipeIsWidenedOnceDataComesAndAnEmptyOneKeepsItsSize) {
    testing::Watchdog watchdog("pipe widening");
    SerialQueue queue("io-test-widen");
    for (std::size_t size : {std::size_t{0}, std::size_t{1}, std::size_t{200000}}) {
        for (bool collecting : {false, true}) {
            SCOPED_TRACE(::testing::Message() << size << (collecting ? " collected" : " in pieces"));
            Pipe pipe;
            ASSERT_GE(pipe.read, 0);
            int systemSize = ::fcntl(pipe.read, F_GETPIPE_SZ);
            // Outlives the channel, so the pipe can be asked its size once the channel has ended.
            int kept = ::fcntl(pipe.read, F_DUPFD_CLOEXEC, 0);
            ASSERT_GE(kept, 0);
            auto read = readAll(pipe.read, queue, collecting);
            EXPECT_EQ(writeAll(pipe.write, pattern(size), queue).get(), 0);
            EXPECT_EQ(read.get().data.size(), size);
            int widened = ::fcntl(kept, F_GETPIPE_SZ);
            if (size == 0) {
                EXPECT_EQ(widened, systemSize);
            } else if (::geteuid() == 0) {
                // An ordinary user over the pipe memory limit may be refused; root never is.
                EXPECT_GT(widened, systemSize);
            }
            ::close(kept);
        }
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

// A reactor served by its caller does nothing until its caller serves a round, and a wake-up from
// another thread ends a round that has nothing to serve.
TEST(IOReactorServedByCaller, ServesOnlyWhenItsCallerServesAndAWakeUpEndsAnIdleRound) {
    testing::Watchdog watchdog("a reactor served by its caller");
    auto own = IOReactor::makeServedByCaller();
    int event = ::eventfd(1, EFD_CLOEXEC);
    ASSERT_GE(event, 0);
    std::promise<void> fired;
    auto firedFuture = fired.get_future();
    own->whenReadable(event, SerialQueue("io-test-own"), [&] { fired.set_value(); });
    EXPECT_EQ(firedFuture.wait_for(std::chrono::milliseconds(50)), std::future_status::timeout)
        << "served with no round served";
    own->serveRound();
    firedFuture.get();

    std::thread waker([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        own->wake();
    });
    own->serveRound();
    waker.join();
    ::close(event);
}

// What is still open when the reactor goes is served by the shared reactor, with what was read so far.
TEST(IOReactorServedByCaller, WhatIsOpenWhenItGoesIsFinishedByTheSharedReactor) {
    testing::Watchdog watchdog("handing a channel over");
    Pipe pipe;
    ASSERT_GE(pipe.read, 0);
    std::promise<Bytes> collected;
    {
        auto own = IOReactor::makeServedByCaller();
        own->collectToEnd(pipe.read, SerialQueue("io-test-own"), [&](Bytes data, int error) {
            EXPECT_EQ(error, 0);
            collected.set_value(std::move(data));
        });
        ASSERT_EQ(::write(pipe.write, "abc", 3), 3);
        own->serveRound();
    }
    ASSERT_EQ(::write(pipe.write, "def", 3), 3);
    ::close(pipe.write);
    EXPECT_EQ(collected.get_future().get(), (Bytes{'a', 'b', 'c', 'd', 'e', 'f'}));
}

// On a thread that does not keep SIGPIPE blocked, a write to a closed pipe still only reports EPIPE,
// and the thread's signal mask is as it was.
TEST(IOReactorServedByCaller, AWriteToAClosedPipeOnTheCallersThreadReportsEpipeAndLeavesItsMaskAlone) {
    testing::Watchdog watchdog("write to a closed pipe on the caller's thread");
    sigset_t before;
    ASSERT_EQ(::pthread_sigmask(SIG_SETMASK, nullptr, &before), 0);
    ASSERT_FALSE(sigismember(&before, SIGPIPE));
    Pipe pipe;
    ::close(pipe.read);
    std::promise<int> result;
    auto own = IOReactor::makeServedByCaller();
    own->writeAll(pipe.write, pattern(1 << 20), SerialQueue("io-test-own"),
                  [&](int error) { result.set_value(error); });
    // With no reader the first write fails, so one round ends the channel.
    own->serveRound();
    EXPECT_EQ(result.get_future().get(), EPIPE);
    sigset_t after;
    ASSERT_EQ(::pthread_sigmask(SIG_SETMASK, nullptr, &after), 0);
    EXPECT_FALSE(sigismember(&after, SIGPIPE));
    sigset_t pending;
    sigemptyset(&pending);
    ::sigpending(&pending);
    EXPECT_FALSE(sigismember(&pending, SIGPIPE));
}

} // namespace velmor
