// The lookups and updates that the lock-guarded dictionary and its actor-guarded sibling share.
#include "foundation/core/collections/AsyncThreadSafeDictionary.hpp"
#include "foundation/core/collections/ThreadSafeDictionary.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <latch>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace velmor {
namespace {

template <typename Table> class DictionaryLookups : public ::testing::Test {};
using Tables =
    ::testing::Types<ThreadSafeDictionary<std::string, int>, AsyncThreadSafeDictionary<std::string, int>>;
TYPED_TEST_SUITE(DictionaryLookups, Tables);

TYPED_TEST(DictionaryLookups, LookupsWithADefaultStoreOnlyWhenAskedTo) {
    TypeParam table;
    EXPECT_EQ(table.value("a", [] { return 5; }), 5);
    EXPECT_EQ(table.count(), 0u);
    EXPECT_EQ(table.valueOrInsert("a", [] { return 7; }), 7);
    EXPECT_EQ(table.count(), 1u);
    EXPECT_EQ(table.valueOrInsert("a", []() -> int { throw std::logic_error("must not be evaluated"); }), 7);
    EXPECT_EQ(table.value("a", []() -> int { throw std::logic_error("must not be evaluated"); }), 7);
}

TYPED_TEST(DictionaryLookups, AnUpdateKeepsItsChangesWhenItThrows) {
    TypeParam table;
    EXPECT_THROW(table.update([](auto& dictionary) -> int {
        dictionary["added"] = 1;
        throw std::runtime_error("after the change");
    }),
                 std::runtime_error);
    EXPECT_THROW(table.read([](const auto&) -> int { throw std::runtime_error("read failed"); }),
                 std::runtime_error);
    // Would block for ever if a throw had left the table locked.
    EXPECT_EQ(table.value("added"), 1);
}

TYPED_TEST(DictionaryLookups, OrInsertFromManyThreadsEvaluatesOnce) {
    TypeParam table;
    std::atomic<int> evaluations{0};
    constexpr int threadCount = 16;
    std::latch start(threadCount);
    std::vector<int> seen(threadCount);
    {
        std::vector<std::jthread> threads;
        for (int thread = 0; thread < threadCount; ++thread) {
            threads.emplace_back([&, thread] {
                start.arrive_and_wait();
                seen[thread] = table.valueOrInsert("key", [&] { return ++evaluations, thread; });
            });
        }
    }
    EXPECT_EQ(evaluations, 1);
    for (int value : seen) {
        EXPECT_EQ(value, seen.front());
    }
}

} // namespace
} // namespace velmor
