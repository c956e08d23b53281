#include "foundation/core/collections/ThreadSafeSet.hpp"

#include "foundation/core/collections/PairWriters.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace velmor {
namespace {

// Equal by key only, so an insertion can meet an equal element that is not the same.
struct Tagged {
    int key;
    std::string tag;
    friend bool operator==(const Tagged& a, const Tagged& b) { return a.key == b.key; }
};
struct TaggedHash {
    std::size_t operator()(const Tagged& value) const { return std::hash<int>{}(value.key); }
};

TEST(ThreadSafeSet, InsertingAnEqualElementKeepsTheStoredOne) {
    ThreadSafeSet<Tagged, TaggedHash> set;
    auto first = set.insert({1, "first"});
    EXPECT_TRUE(first.inserted);
    EXPECT_EQ(first.memberAfterInsert.tag, "first");
    auto second = set.insert({1, "second"});
    EXPECT_FALSE(second.inserted);
    EXPECT_EQ(second.memberAfterInsert.tag, "first");
    EXPECT_EQ(set.count(), 1u);
}

TEST(ThreadSafeSet, ReadsAndUpdates) {
    ThreadSafeSet<std::string> set;
    EXPECT_EQ(set.first(), std::nullopt);
    EXPECT_EQ(set.debugDescription(), "[]");
    set.union_(std::vector<std::string>{"a", "b", "a"});
    EXPECT_EQ(set.count(), 2u);
    EXPECT_TRUE(set.contains("b"));
    EXPECT_FALSE(set.contains("c"));
    EXPECT_TRUE(set.first() == "a" || set.first() == "b");
    EXPECT_EQ(set.update([](auto& stored) { return stored.erase("a"); }), 1u);
    EXPECT_EQ(set.debugDescription(), R"(["b"])");
}

TEST(ThreadSafeSet, IteratingWalksTheSetAsItWasWhenTheWalkBegan) {
    ThreadSafeSet<int> set;
    set.union_(std::vector<int>{1, 2, 3});
    auto walk = set.begin();
    set.insert(4);
    std::vector<int> seen;
    for (; walk != set.end(); ++walk) {
        seen.push_back(*walk);
    }
    std::sort(seen.begin(), seen.end());
    EXPECT_EQ(seen, (std::vector<int>{1, 2, 3}));
}

TEST(ThreadSafeSet, ReadsRunSideBySide) {
    ThreadSafeSet<int> set;
    std::mutex mutex;
    std::condition_variable changed;
    int inside = 0;
    bool overlapped = false;
    auto reader = [&] {
        set.read([&](const auto&) {
            std::unique_lock guard(mutex);
            ++inside;
            changed.notify_all();
            // Reads that excluded each other would never both get here; the wait gives up then.
            overlapped = changed.wait_for(guard, std::chrono::seconds(30), [&] { return inside == 2; });
        });
    };
    { std::jthread a(reader), b(reader); }
    EXPECT_TRUE(overlapped);
}

TEST(ThreadSafeSet, AWalkDuringInsertionsAndRemovalsSeesOneConsistentState) {
    ThreadSafeSet<int> set;
    testing::walkWhileWritingPairs(
        [&](int key, bool dropPrevious) {
            set.update([&](auto& stored) {
                stored.insert(key);
                stored.insert(-key);
                if (dropPrevious) {
                    stored.erase(key - 1);
                    stored.erase(-(key - 1));
                }
            });
        },
        [&] {
            long long sum = 0;
            std::size_t elements = 0;
            for (int value : set) {
                sum += value;
                ++elements;
            }
            ASSERT_EQ(sum, 0);
            ASSERT_EQ(elements % 2, 0u);
        });
}

} // namespace
} // namespace velmor
