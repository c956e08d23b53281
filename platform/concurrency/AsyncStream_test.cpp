#include "platform/concurrency/AsyncStream.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <latch>
#include <stdexcept>
#include <thread>
#include <vector>

namespace velmor {

template <typename Stream> auto drain(Stream& stream) {
    std::vector<int> seen;
    while (auto next = stream.next()) {
        seen.push_back(*next);
    }
    return seen;
}

TEST(AsyncStream, DeliversBufferedElementsInOrderThenTheEnd) {
    std::vector<StreamTermination> terminations;
    AsyncStream<int> stream([&](AsyncStream<int>::Continuation continuation) {
        continuation.onTermination([&](StreamTermination reason) { terminations.push_back(reason); });
        std::thread([continuation] {
            for (int i = 1; i <= 3; ++i) {
                continuation.yield(i);
            }
            continuation.finish();
            continuation.finish();
            EXPECT_FALSE(continuation.yield(4));
        }).join();
    });
    EXPECT_EQ(drain(stream), (std::vector<int>{1, 2, 3}));
    EXPECT_FALSE(stream.next().has_value());
    EXPECT_EQ(terminations, std::vector<StreamTermination>{StreamTermination::finished});
}

TEST(AsyncStream, AThrowingStreamRaisesItsErrorAfterTheBufferedElementsOnce) {
    auto [stream, continuation] = AsyncThrowingStream<int>::makeStream();
    continuation.yield(1);
    continuation.yield(2);
    continuation.finish(std::make_exception_ptr(std::runtime_error("upstream failed")));
    EXPECT_EQ(stream.next(), 1);
    EXPECT_EQ(stream.next(), 2);
    EXPECT_THROW(stream.next(), std::runtime_error);
    EXPECT_FALSE(stream.next().has_value());
}

TEST(AsyncStream, NextEndsWhenTheConsumingTaskIsCancelled) {
    auto [stream, continuation] = AsyncStream<int>::makeStream();
    std::atomic<int> cancellations{0};
    continuation.onTermination([&](StreamTermination reason) {
        if (reason == StreamTermination::cancelled) {
            ++cancellations;
        }
    });
    std::latch waiting(1);
    auto consumer = Task<std::vector<int>>::start([&, &stream = stream] {
        std::vector<int> seen;
        seen.push_back(*stream.next());
        waiting.count_down();
        while (auto next = stream.next()) {
            seen.push_back(*next);
        }
        return seen;
    });
    continuation.yield(1);
    waiting.wait();
    consumer.cancel();
    EXPECT_EQ(consumer.value(), std::vector<int>{1});
    EXPECT_EQ(cancellations, 1);
    EXPECT_FALSE(continuation.yield(2)) << "a cancelled stream takes no more elements";
}

TEST(AsyncStream, DroppingASideEndsTheStreamForItsReason) {
    std::vector<StreamTermination> reasons;
    {
        auto [stream, continuation] = AsyncStream<int>::makeStream();
        continuation.onTermination([&](StreamTermination reason) { reasons.push_back(reason); });
        auto consumerGone = std::move(stream);
    }
    {
        auto made = AsyncStream<int>::makeStream();
        auto stream = std::move(made.first);
        made.second.onTermination([&](StreamTermination reason) { reasons.push_back(reason); });
        made.second.yield(5);
        { auto producerGone = std::move(made.second); }
        EXPECT_EQ(drain(stream), std::vector<int>{5});
    }
    EXPECT_EQ(reasons,
              (std::vector<StreamTermination>{StreamTermination::cancelled, StreamTermination::finished}));
}

TEST(AsyncStream, AHandlerSetAfterTheEndRunsAtOnceAndHearsWhyItEnded) {
    std::vector<StreamTermination> reasons;
    auto record = [&](StreamTermination reason) { reasons.push_back(reason); };
    {
        auto [stream, continuation] = AsyncStream<int>::makeStream();
        continuation.finish();
        continuation.onTermination(record);
    }
    {
        auto made = AsyncStream<int>::makeStream();
        { auto consumerGone = std::move(made.first); }
        made.second.onTermination(record);
        EXPECT_FALSE(made.second.yield(1));
    }
    EXPECT_EQ(reasons,
              (std::vector<StreamTermination>{StreamTermination::finished, StreamTermination::cancelled}));
}

} // namespace velmor
