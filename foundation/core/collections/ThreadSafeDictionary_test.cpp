#include "foundation/core/collections/ThreadSafeDictionary.hpp"

#include "foundation/core/collections/PairWriters.hpp"

#include <gtest/gtest.h>

#include <string>

namespace velmor {
namespace {

using Table = ThreadSafeDictionary<std::string, int>;

TEST(ThreadSafeDictionary, StoresRemovesAndDescribes) {
    Table table;
    table.setValue("a", 7);
    table.setValue("b", 2);
    table.setValue("b", 3);
    EXPECT_EQ(table.value("b"), 3);
    table.setValue("b", std::nullopt);
    table.setValue("never there", std::nullopt);
    EXPECT_EQ(table.value("b"), std::nullopt);
    EXPECT_EQ(table.count(), 1u);
    EXPECT_EQ(table.debugDescription(), R"(["a": 7])");
    table.update([](Table::Dictionary& dictionary) { dictionary.clear(); });
    EXPECT_EQ(table.debugDescription(), "[:]");
}

TEST(ThreadSafeDictionary, AWalkDuringInsertionsAndRemovalsSeesOneConsistentState) {
    ThreadSafeDictionary<int, int> table;
    testing::walkWhileWritingPairs(
        [&](int key, bool dropPrevious) {
            table.update([&](auto& dictionary) {
                dictionary[key] = key;
                dictionary[-key] = -key;
                if (dropPrevious) {
                    dictionary.erase(key - 1);
                    dictionary.erase(-(key - 1));
                }
            });
        },
        [&] {
            long long sum = 0;
            std::size_t entries = 0;
            for (const auto& [key, value] : table) {
                ASSERT_EQ(key, value);
                sum += value;
                ++entries;
            }
            ASSERT_EQ(sum, 0);
            ASSERT_EQ(entries % 2, 0u);
        });
}

} // namespace
} // namespace velmor
