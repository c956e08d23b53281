#include "foundation/core/async/SharedAsyncSequence.hpp"
#include "foundation/core/async/ScriptedSequence.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <latch>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace velmor {
namespace {

using testing::ScriptedSequence;

// What one consumer read: its elements, then "end" or "error: <message>".
template <typename Iterator> std::vector<std::string> drain(Iterator iterator) {
    std::vector<std::string> seen;
    try {
        while (auto element = iterator.next()) {
            seen.push_back(std::to_string(*element));
        }
        seen.push_back("end");
    } catch (const std::exception& error) {
        seen.push_back(std::string("error: ") + error.what());
    }
    return seen;
}

using Seen = std::vector<std::string>;

TEST(SharedAsyncSequence, SubscribedConsumersGetEveryElementAndTheEnd) {
    ScriptedSequence<int> upstream;
    auto sequence = shared(upstream);
    auto first = sequence.makeAsyncIterator();
    auto second = sequence.makeAsyncIterator();
    upstream.push(1).push(2).push(3).finish();
    EXPECT_EQ(drain(first), (Seen{"1", "2", "3", "end"}));
    EXPECT_EQ(drain(second), (Seen{"1", "2", "3", "end"}));
    EXPECT_EQ(upstream.counts().iteratorsMade, 1);
}

TEST(SharedAsyncSequence, ALateConsumerStartsWithTheLatestElement) {
    ScriptedSequence<int> upstream;
    auto sequence = shared(upstream);
    auto early = sequence.makeAsyncIterator();
    upstream.push(1).push(2).push(3);
    EXPECT_EQ(early.next(), 1);
    EXPECT_EQ(early.next(), 2);
    EXPECT_EQ(early.next(), 3);
    auto late = sequence.makeAsyncIterator();
    upstream.push(4).finish();
    EXPECT_EQ(drain(late), (Seen{"3", "4", "end"}));
    EXPECT_EQ(drain(early), (Seen{"4", "end"}));
}

TEST(SharedAsyncSequence, AnUpstreamErrorReachesEveryConsumerAfterItsElements) {
    ScriptedSequence<int> upstream;
    auto sequence = shared(upstream);
    auto first = sequence.makeAsyncIterator();
    auto second = sequence.makeAsyncIterator();
    upstream.push(1).push(2).fail(std::make_exception_ptr(std::runtime_error("upstream failed")));
    EXPECT_EQ(drain(first), (Seen{"1", "2", "error: upstream failed"}));
    EXPECT_EQ(drain(second), (Seen{"1", "2", "error: upstream failed"}));
    EXPECT_EQ(drain(sequence.makeAsyncIterator()), (Seen{"2", "error: upstream failed"}))
        << "a consumer after the failure gets the last value, then the same error";
}

TEST(SharedAsyncSequence, AConsumerAfterTheEndGetsTheLastValueThenTheEnd) {
    ScriptedSequence<int> upstream;
    auto sequence = shared(upstream);
    upstream.push(1).push(2).finish();
    // Read although nobody subscribed.
    ASSERT_TRUE(upstream.waitUntil([](auto& counts) { return counts.iteratorsMade == 1 && counts.iteratorsAlive == 0; }));
    EXPECT_EQ(drain(sequence.makeAsyncIterator()), (Seen{"2", "end"}));
    EXPECT_EQ(drain(sequence.makeAsyncIterator()), (Seen{"2", "end"}));

    ScriptedSequence<int> empty;
    auto nothing = shared(empty);
    empty.finish();
    ASSERT_TRUE(empty.waitUntil([](auto& counts) { return counts.iteratorsAlive == 0; }));
    EXPECT_EQ(drain(nothing.makeAsyncIterator()), Seen{"end"});
}

TEST(SharedAsyncSequence, CancellingOneConsumerLeavesTheOthers) {
    ScriptedSequence<int> upstream;
    auto sequence = shared(upstream);
    std::latch gotFirst(1);
    auto cancelled = Task<std::vector<int>>::start([&gotFirst, iterator = sequence.makeAsyncIterator()]() mutable {
        std::vector<int> seen{*iterator.next()};
        gotFirst.count_down();
        while (auto element = iterator.next()) {
            seen.push_back(*element);
        }
        return seen;
    });
    auto other = sequence.makeAsyncIterator();
    upstream.push(1);
    gotFirst.wait();
    cancelled.cancel();
    EXPECT_EQ(cancelled.value(), std::vector<int>{1});
    upstream.push(2).finish();
    EXPECT_EQ(drain(other), (Seen{"1", "2", "end"}));
}

TEST(SharedAsyncSequence, CopiesShareOneUpstreamIterationAndEachSharedCallStartsOne) {
    ScriptedSequence<int> upstream;
    auto sequence = shared(upstream);
    auto copy = sequence;
    auto fromOriginal = sequence.makeAsyncIterator();
    auto fromCopy = copy.makeAsyncIterator();
    upstream.push(1).push(2).finish();
    EXPECT_EQ(drain(fromOriginal), (Seen{"1", "2", "end"}));
    EXPECT_EQ(drain(fromCopy), (Seen{"1", "2", "end"}));
    EXPECT_EQ(upstream.counts().iteratorsMade, 1);

    ScriptedSequence<int> twice;
    auto one = shared(twice);
    auto other = shared(twice);
    EXPECT_TRUE(twice.waitUntil([](auto& counts) { return counts.iteratorsMade == 2; }));
    twice.finish().finish();
}

TEST(SharedAsyncSequence, TheUpstreamStopsByItsNextElementOnceEveryoneHasGone) {
    ScriptedSequence<int> upstream;
    {
        auto sequence = shared(upstream);
        auto reader = sequence.makeAsyncIterator();
        // One that ends at once must not stay subscribed.
        { auto dropped = sequence.makeAsyncIterator(); }
        upstream.push(1);
        EXPECT_EQ(reader.next(), 1);
    }
    ASSERT_TRUE(upstream.waitUntil([](auto& counts) { return counts.nextCalls == 2; }));
    // The iteration is cancelled, but this upstream does not listen: the next element stops it.
    upstream.push(2);
    ASSERT_TRUE(upstream.waitUntil([](auto& counts) { return counts.iteratorsAlive == 0; }));
    EXPECT_EQ(upstream.counts().nextCalls, 2);
}

TEST(SharedAsyncSequence, ConsumersJoiningWhileElementsFlowSeeEachElementOnceAndInOrder) {
    constexpr int count = 2000;
    constexpr int consumers = 8;
    auto [upstream, continuation] = AsyncStream<int>::makeStream();
    auto sequence = shared(upstream);
    std::atomic<int> produced{0};
    std::vector<Task<std::vector<int>>> readers;
    for (int c = 0; c < consumers; ++c) {
        readers.push_back(Task<std::vector<int>>::start([&produced, sequence, joinAt = c * count / consumers] {
            for (int seen = produced.load(); seen < joinAt; seen = produced.load()) {
                produced.wait(seen);
            }
            auto iterator = sequence.makeAsyncIterator();
            std::vector<int> elements;
            while (auto element = iterator.next()) {
                elements.push_back(*element);
            }
            return elements;
        }));
    }
    for (int i = 1; i <= count; ++i) {
        continuation.yield(i);
        produced.store(i);
        produced.notify_all();
    }
    continuation.finish();
    for (auto& reader : readers) {
        auto elements = reader.value();
        ASSERT_FALSE(elements.empty());
        for (std::size_t i = 1; i < elements.size(); ++i) {
            ASSERT_EQ(elements[i], elements[i - 1] + 1) << "at " << i;
        }
        EXPECT_EQ(elements.back(), count);
    }
}

} // namespace
} // namespace velmor
