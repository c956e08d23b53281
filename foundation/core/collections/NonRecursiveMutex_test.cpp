#include "foundation/core/collections/LegacyMutex.hpp"
#include "foundation/core/collections/ThreadSafeArray.hpp"
#include "foundation/core/collections/ThreadSafeDictionary.hpp"
#include "foundation/core/collections/ThreadSafeSet.hpp"

#include <gtest/gtest.h>

#include <functional>
#include <string>

namespace velmor {
namespace {

// A closure that uses its own box or collection again would hang for ever on the lock it runs
// under; a debug build stops there instead, naming the type.
TEST(NonRecursiveMutexDeathTest, UsingTheSameObjectUnderItsOwnLockStopsADebugBuild) {
#ifdef NDEBUG
    GTEST_SKIP() << "the check is made in debug builds only";
#else
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    struct Case {
        const char* name;
        std::function<void()> reenter;
        const char* message;
    };
    const Case cases[] = {
        {"withLock in withLock",
         [] {
             LegacyMutex<int> box(0);
             box.withLock([&](int&) { box.withLock([](int&) {}); });
         },
         "LegacyMutex: a closure running under its lock used the same object again"},
        {"array count in read",
         [] {
             ThreadSafeArray<int> array;
             array.read([&](const auto&) { return array.count(); });
         },
         "ThreadSafeArray: a closure running under its lock"},
        {"array append in firstWhere",
         [] {
             ThreadSafeArray<int> array;
             array.append(1);
             array.firstWhere([&](int) {
                 array.append(2);
                 return true;
             });
         },
         "ThreadSafeArray: a closure running under its lock"},
        {"dictionary lookup in orInsert",
         [] {
             ThreadSafeDictionary<std::string, int> dictionary;
             dictionary.valueOrInsert("a", [&] { return dictionary.count() > 0 ? 1 : 0; });
         },
         "ThreadSafeDictionary: a closure running under its lock"},
        {"dictionary update in a default lookup",
         [] {
             ThreadSafeDictionary<std::string, int> dictionary;
             dictionary.value(
                 "a", [&] { return dictionary.update([](auto& entries) { return int(entries.size()); }); });
         },
         "ThreadSafeDictionary: a closure running under its lock"},
        {"set read in read, which alone would not block",
         [] {
             ThreadSafeSet<int> set;
             set.read([&](const auto&) { return set.contains(1); });
         },
         "ThreadSafeSet: a closure running under its lock"},
        {"set insert in update",
         [] {
             ThreadSafeSet<int> set;
             set.update([&](auto&) { set.insert(1); });
         },
         "ThreadSafeSet: a closure running under its lock"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_DEATH(c.reenter(), c.message);
    }
#endif
}

TEST(NonRecursiveMutex, OneObjectMayBeUsedUnderAnotherOnesLock) {
    LegacyMutex<int> outer(1);
    ThreadSafeArray<int> array;
    ThreadSafeSet<int> set;
    outer.withLock([&](int& value) {
        array.append(value);
        set.read([&](const auto&) { array.append(2); });
    });
    // The lock is free again once a closure has thrown through it.
    EXPECT_THROW(array.read([](const auto&) -> int { throw std::runtime_error("read failed"); }),
                 std::runtime_error);
    EXPECT_EQ(array.count(), 2u);
}

} // namespace
} // namespace velmor
