#include "foundation/core/collections/AsyncThreadSafeDictionary.hpp"

#include "platform/concurrency/TaskGroup.hpp"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace velmor {

using Table = AsyncThreadSafeDictionary<std::string, int>;

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

} // namespace velmor
