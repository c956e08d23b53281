#include "platform/coding/Value.hpp"

#include <gtest/gtest.h>

#include <string>

namespace velmor::coding {

namespace {

std::string keyAt(std::size_t position) {
    return "key-" + std::to_string(position);
}

// Checks every key against its position and its value, through the look-up and the entry list.
void expectInOrder(const Object& object, std::size_t count, std::int64_t offset = 0) {
    ASSERT_EQ(object.size(), count);
    for (std::size_t position = 0; position < count; ++position) {
        ASSERT_EQ(object.entries()[position].first, keyAt(position));
        const Value* value = object.find(keyAt(position));
        ASSERT_NE(value, nullptr) << position;
        ASSERT_EQ(*value, Value(static_cast<std::int64_t>(position) + offset)) << position;
    }
    EXPECT_EQ(object.find(keyAt(count)), nullptr);
    EXPECT_FALSE(object.contains(""));
}

} // namespace

TEST(Object, KeepsInsertionOrderAndFindsEveryKeyAtAnySize) {
    // Sizes on both sides of the point where the keys get an index.
    for (std::size_t count : {std::size_t{0}, std::size_t{1}, std::size_t{15}, std::size_t{16},
                              std::size_t{17}, std::size_t{20000}}) {
        SCOPED_TRACE(count);
        Object object;
        for (std::size_t position = 0; position < count; ++position) {
            object.set(keyAt(position), static_cast<std::int64_t>(position));
        }
        expectInOrder(object, count);

        // Setting a key again replaces its value where it stands.
        for (std::size_t position = 0; position < count; ++position) {
            object.set(keyAt(position), static_cast<std::int64_t>(position) + 7);
        }
        expectInOrder(object, count, 7);

        const Object copy = object;
        expectInOrder(copy, count, 7);
        EXPECT_EQ(copy, object);
    }
}

TEST(Object, ErasingKeepsTheOthersInOrderAndFindable) {
    for (std::size_t count : {std::size_t{5}, std::size_t{16}, std::size_t{2000}}) {
        SCOPED_TRACE(count);
        Object object;
        for (std::size_t position = 0; position < count; ++position) {
            object.set(keyAt(position), static_cast<std::int64_t>(position));
        }
        object.erase("absent");
        object.erase(keyAt(0));
        object.erase(object.entries()[count / 2].first); // a key that is the entry's own
        object.erase(keyAt(count - 1));
        ASSERT_EQ(object.size(), count - 3);
        std::size_t expected = 1;
        for (const auto& [key, value] : object) {
            if (expected == count / 2 + 1) {
                ++expected;
            }
            EXPECT_EQ(key, keyAt(expected));
            EXPECT_EQ(object.find(key), &value);
            ++expected;
        }
        EXPECT_FALSE(object.contains(keyAt(0)));
        EXPECT_FALSE(object.contains(keyAt(count / 2 + 1)));
        EXPECT_FALSE(object.contains(keyAt(count - 1)));

        // An erased key comes back at the end.
        object.set(keyAt(0), "back");
        EXPECT_EQ(object.entries().back().first, keyAt(0));
        EXPECT_EQ(*object.find(keyAt(0)), Value("back"));
    }
}

TEST(Object, EqualityGoesByTheEntriesInOrder) {
    Object forward;
    Object backward;
    for (std::size_t position = 0; position < 20; ++position) {
        forward.set(keyAt(position), 1);
        backward.set(keyAt(19 - position), 1);
    }
    EXPECT_NE(forward, backward);
    Object rebuilt;
    for (std::size_t position = 0; position < 20; ++position) {
        rebuilt.set(keyAt(position), 1);
    }
    EXPECT_EQ(forward, rebuilt);
}

} // namespace velmor::coding
