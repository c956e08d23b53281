#include "foundation/core/collections/ThreadSafeArray.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace velmor {
namespace {

std::vector<int> contents(const ThreadSafeArray<int>& array) {
    return array.read([](const std::vector<int>& values) { return values; });
}

TEST(ThreadSafeArray, ChangesInPlace) {
    ThreadSafeArray<int> array;
    array.appendContentsOf(std::vector<int>{1, 2, 3, 4, 5});
    array.append(6);
    array.insert(0, 0);
    array.insert(7, 7);
    EXPECT_EQ(contents(array), (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7}));

    array.set(1, 10);
    EXPECT_EQ(array[1], 10);
    EXPECT_EQ(array.removeAt(1), 10);
    EXPECT_EQ(array.removeFirst(), 0);
    EXPECT_EQ(array.removeLast(), 7);
    EXPECT_EQ(contents(array), (std::vector<int>{2, 3, 4, 5, 6}));

    array.replaceSubrange(1, 3, std::vector<int>{30, 31, 32});
    EXPECT_EQ(contents(array), (std::vector<int>{2, 30, 31, 32, 5, 6}));
    array.replaceSubrange(6, 6, std::vector<int>{7});
    array.removeSubrange(0, 2);
    EXPECT_EQ(contents(array), (std::vector<int>{31, 32, 5, 6, 7}));
    EXPECT_EQ(array.firstWhere([](int value) { return value < 10; }), 5);
    EXPECT_EQ(array.firstWhere([](int value) { return value > 100; }), std::nullopt);
    EXPECT_EQ(array.count(), 5u);
    EXPECT_EQ(array.endIndex(), 5u);
    EXPECT_EQ(array.debugDescription(), "[31, 32, 5, 6, 7]");

    array.update([](std::vector<int>& values) { values.erase(values.begin()); });
    EXPECT_EQ(array.removeFirst(), 32);
    array.removeAll();
    EXPECT_EQ(array.count(), 0u);
    EXPECT_EQ(array.debugDescription(), "[]");

    ThreadSafeArray<std::string> names;
    names.append("a \"quoted\" name");
    EXPECT_EQ(names.debugDescription(), R"(["a \"quoted\" name"])");
}

TEST(ThreadSafeArray, APositionOutsideTheArrayThrowsAndChangesNothing) {
    struct Case {
        const char* name;
        std::function<void(ThreadSafeArray<int>&)> operation;
    };
    const Case cases[] = {
        {"get", [](auto& array) { (void)array[3]; }},
        {"set", [](auto& array) { array.set(3, 0); }},
        {"insert past the end", [](auto& array) { array.insert(0, 4); }},
        {"remove at", [](auto& array) { array.removeAt(3); }},
        {"remove a range past the end", [](auto& array) { array.removeSubrange(2, 4); }},
        {"remove a reversed range", [](auto& array) { array.removeSubrange(2, 1); }},
        {"replace a range past the end",
         [](auto& array) { array.replaceSubrange(3, 4, std::vector<int>{9}); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ThreadSafeArray<int> array;
        array.appendContentsOf(std::vector<int>{1, 2, 3});
        EXPECT_THROW(c.operation(array), std::out_of_range);
        EXPECT_EQ(contents(array), (std::vector<int>{1, 2, 3}));
    }
    ThreadSafeArray<int> empty;
    EXPECT_THROW(empty.removeFirst(), std::out_of_range);
    EXPECT_THROW(empty.removeLast(), std::out_of_range);
}

TEST(ThreadSafeArray, IteratingWalksTheArrayAsItWasWhenTheWalkBegan) {
    ThreadSafeArray<int> array;
    array.appendContentsOf(std::vector<int>{1, 2, 3});
    auto walk = array.begin();
    array.removeAll();
    std::vector<int> seen;
    for (; walk != array.end(); ++walk) {
        seen.push_back(*walk);
    }
    EXPECT_EQ(seen, (std::vector<int>{1, 2, 3}));
}

TEST(ThreadSafeArray, ConcurrentRemoveFirstHandsOutEachElementOnce) {
    constexpr int elements = 20000;
    ThreadSafeArray<int> array;
    for (int i = 0; i < elements; ++i) {
        array.append(i);
    }
    std::mutex takenLock;
    std::vector<int> taken;
    {
        std::vector<std::jthread> threads;
        for (int thread = 0; thread < 8; ++thread) {
            threads.emplace_back([&] {
                std::vector<int> mine;
                for (;;) {
                    try {
                        mine.push_back(array.removeFirst());
                    } catch (const std::out_of_range&) {
                        break;
                    }
                }
                std::lock_guard guard(takenLock);
                taken.insert(taken.end(), mine.begin(), mine.end());
            });
        }
    }
    std::sort(taken.begin(), taken.end());
    ASSERT_EQ(taken.size(), std::size_t{elements});
    for (int i = 0; i < elements; ++i) {
        ASSERT_EQ(taken[i], i);
    }
}

TEST(ThreadSafeArray, AppendsFromManyThreadsAllLand) {
    ThreadSafeArray<int> array;
    {
        std::vector<std::jthread> threads;
        for (int thread = 0; thread < 100; ++thread) {
            threads.emplace_back([&, thread] {
                for (int i = 0; i < 10; ++i) {
                    array.append(thread * 10 + i);
                }
            });
        }
    }
    EXPECT_EQ(array.count(), 1000u);
}

// One thread appends rising numbers while others remove from the front, so the array always holds
// a run of consecutive numbers. A walk must see one such run whole, however the array changes
// during it.
TEST(ThreadSafeArray, AWalkDuringInsertionsAndRemovalsSeesOneConsistentState) {
    ThreadSafeArray<int> array;
    std::atomic<bool> done{false};
    std::jthread appender([&] {
        for (int next = 0; next < 20000; ++next) {
            array.append(next);
        }
        done = true;
    });
    std::vector<std::jthread> removers;
    for (int thread = 0; thread < 2; ++thread) {
        removers.emplace_back([&] {
            while (!done) {
                if (array.count() > 16) {
                    try {
                        array.removeFirst();
                    } catch (const std::out_of_range&) {
                    }
                }
            }
        });
    }
    int walks = 0;
    while (!done || walks == 0) {
        std::optional<int> previous;
        for (int value : array) {
            if (previous) {
                ASSERT_EQ(value, *previous + 1);
            }
            previous = value;
        }
        ++walks;
    }
}

} // namespace
} // namespace velmor
