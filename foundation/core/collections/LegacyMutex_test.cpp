#include "foundation/core/collections/LegacyMutex.hpp"

#include "platform/coding/JSON.hpp"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace velmor {
namespace {

TEST(LegacyMutex, IncrementsFromManyThreadsAreNeverLost) {
    LegacyMutex<int> counter(0);
    {
        std::vector<std::jthread> threads;
        for (int thread = 0; thread < 8; ++thread) {
            threads.emplace_back([&] {
                for (int i = 0; i < 1250; ++i) {
                    counter.withLock([](int& value) { ++value; });
                }
            });
        }
    }
    EXPECT_EQ(counter.withLock([](const int& value) { return value; }), 10000);
}

TEST(LegacyMutex, AThrowingBodyKeepsItsChangesAndFreesTheLock) {
    LegacyMutex<std::vector<int>> box({1});
    EXPECT_THROW(box.withLock([](std::vector<int>& values) {
        values.push_back(2);
        throw std::runtime_error("after the change");
    }),
                 std::runtime_error);
    // Would block for ever if the lock had stayed taken.
    EXPECT_EQ(box.withLock([](std::vector<int>& values) { return values; }), (std::vector<int>{1, 2}));
}

TEST(LegacyMutex, IsCodedAsExactlyItsValue) {
    EXPECT_EQ(coding::toJSON(coding::encode(LegacyMutex<int>(5))), "5");
    EXPECT_EQ(coding::toJSON(coding::encode(LegacyMutex<std::vector<std::string>>({"a", "b"}))),
              R"(["a","b"])");

    auto box = coding::decode<LegacyMutex<int>>(coding::fromJSON("5"));
    EXPECT_EQ(box.withLock([](int& value) { return value; }), 5);
    EXPECT_THROW(coding::decode<LegacyMutex<int>>(coding::fromJSON(R"({"wrapped":5})")),
                 coding::DecodingError);
}

} // namespace
} // namespace velmor
