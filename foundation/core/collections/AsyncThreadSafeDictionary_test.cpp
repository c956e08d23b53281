#include "foundation/core/collections/AsyncThreadSafeDictionary.hpp"

#include "platform/concurrency/TaskGroup.hpp"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace velmor {

using Table = AsyncThreadSafeDictionary<std::string, int>;

TEST(AsyncThreadSafeDictionary, LookupsWithADefaultStoreOnlyWhenAskedTo) {
    Table table;
    EXPECT_EQ(table.value("a", [] { return 5; }), 5);
    EXPECT_EQ(table.count(), 0u);
    EXPECT_EQ(table.valueOrInsert("a", [] { return 7; }), 7);
    EXPECT_EQ(table.count(), 1u);
    EXPECT_EQ(table.valueOrInsert("a", []() -> int { throw std::logic_error("must not be evaluated"); }), 7);
    EXPECT_EQ(table.value("a", []() -> int { throw std::logic_error("must not be evaluated"); }), 7);
}

TEST(AsyncThreadSafeDictionary, SettingNothingRemovesTheKey) {
    Table table;
    table.setValue("gone", std::nullopt);
    EXPECT_EQ(table.count(), 0u);
    table.setValue("kept", 1);
    table.setValue("gone", 2);
    table.setValue("gone", std::nullopt);
    EXPECT_EQ(table.dictionary(), (Table::Dictionary{{"kept", 1}}));
    EXPECT_EQ(table.value("kept"), 1);
    EXPECT_FALSE(table.value("gone").has_value());

    table.modifyValue("kept", [](std::optional<int>& value) { *value += 10; });
    table.modifyValue("new", [](std::optional<int>& value) { value = 3; });
    table.modifyValue("kept", [](std::optional<int>& value) { value.reset(); });
    EXPECT_EQ(table.dictionary(), (Table::Dictionary{{"new", 3}}));
}

TEST(AsyncThreadSafeDictionary, AnUpdateKeepsItsChangesWhenItThrows) {
    Table table;
    EXPECT_THROW(table.update([](Table::Dictionary& dictionary) -> int {
        dictionary["added"] = 1;
        throw std::runtime_error("after the change");
    }),
                 std::runtime_error);
    EXPECT_EQ(table.value("added"), 1);
    EXPECT_THROW(table.read([](Table::Dictionary&) -> int { throw std::runtime_error("read failed"); }),
                 std::runtime_error);
}

TEST(AsyncThreadSafeDictionary, ReadSeesACopy) {
    Table table;
    table.setValue("a", 1);
    std::size_t size = table.read([](Table::Dictionary& copy) {
        copy["b"] = 2;
        return copy.size();
    });
    EXPECT_EQ(size, 2u);
    EXPECT_EQ(table.count(), 1u);
    auto snapshot = table.dictionary();
    table.setValue("c", 3);
    EXPECT_EQ(snapshot.size(), 1u);
}

TEST(AsyncThreadSafeDictionary, ManyTasksStoringTheirOwnKeysAllLand) {
    Table table;
    withTaskGroup<void>([&](TaskGroup<void>& group) {
        for (int task = 0; task < 32; ++task) {
            group.addTask([&, task] {
                for (int i = 0; i < 50; ++i) {
                    table.setValue(std::to_string(task * 100 + i), i);
                }
                // Read-then-write in one step: every task counts, none is lost.
                table.update([](Table::Dictionary& dictionary) { ++dictionary["tasks"]; });
            });
        }
    });
    EXPECT_EQ(table.count(), 32u * 50u + 1u);
    EXPECT_EQ(table.value("tasks"), 32);
    EXPECT_EQ(table.value("3149"), 49);
}

TEST(AsyncThreadSafeDictionary, OrInsertFromManyTasksEvaluatesOnce) {
    AsyncThreadSafeDictionary<int, int> table;
    std::atomic<int> evaluations{0};
    std::vector<int> seen = withTaskGroup<int>([&](TaskGroup<int>& group) {
        for (int task = 0; task < 16; ++task) {
            group.addTask([&, task] { return table.valueOrInsert(1, [&] { return ++evaluations, task; }); });
        }
        std::vector<int> values;
        while (auto value = group.next()) {
            values.push_back(*value);
        }
        return values;
    });
    EXPECT_EQ(evaluations, 1);
    for (int value : seen) {
        EXPECT_EQ(value, seen.front());
    }
}

} // namespace velmor
