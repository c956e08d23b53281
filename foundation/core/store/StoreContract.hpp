#pragma once

#include "foundation/core/store/Store.hpp"

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>

namespace velmor::testing {

// What every store must do with the text kept under one name, whatever keeps it.
struct TextStoreOperations {
    std::function<std::optional<std::string>()> fetch;
    std::function<void(const std::string&)> store;
    std::function<void()> clear;
};

// Runs the steps in order; after each, the fetched value must be the one given.
inline void expectStoreContract(const TextStoreOperations& operations) {
    struct Step {
        const char* name;
        std::function<void()> action;
        std::optional<std::string> expected;
    };
    const Step steps[] = {
        {"fetch of a name never set", [] {}, std::nullopt},
        {"clear of a missing name", operations.clear, std::nullopt},
        {"store", [&] { operations.store("first value"); }, "first value"},
        {"store again replaces", [&] { operations.store("second"); }, "second"},
        {"clear", operations.clear, std::nullopt},
        {"clear again", operations.clear, std::nullopt},
        {"store after clear", [&] { operations.store(""); }, ""},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.name);
        ASSERT_NO_THROW(step.action());
        std::optional<std::string> fetched;
        ASSERT_NO_THROW(fetched = operations.fetch());
        EXPECT_EQ(fetched, step.expected);
    }
}

// The same steps through a `Store`'s typed operations.
inline void expectStoreContract(Store& store) {
    const StoreKey<std::string> key{"settings"};
    expectStoreContract({[&] { return store.fetch(key); },
                         [&](const std::string& value) { store.store(value, key); },
                         [&] { store.clear(key); }});
}

} // namespace velmor::testing
