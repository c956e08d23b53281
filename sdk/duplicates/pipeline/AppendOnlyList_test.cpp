#include "sdk/duplicates/pipeline/DuplicateGroup.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <optional>
#include <thread>

namespace sweepkit::pipeline {
namespace {

// Counts the copies made of it, so a test can tell sharing from copying.
struct Counted {
    static inline int copies = 0;
    int value = 0;

    Counted(int value) : value(value) {}
    Counted(const Counted& other) : value(other.value) { ++copies; }
    Counted(Counted&&) = default;
    Counted& operator=(const Counted&) = delete;
    friend bool operator==(const Counted& a, const Counted& b) { return a.value == b.value; }
};

static_assert(std::ranges::forward_range<AppendOnlyList<Counted>>);

std::vector<int> valuesOf(const AppendOnlyList<Counted>& list) {
    std::vector<int> values;
    std::ranges::transform(list, std::back_inserter(values), &Counted::value);
    return values;
}

TEST(AppendOnlyList, SuccessiveVersionsShareWithoutChanging) {
    AppendOnlyList<Counted> empty;
    auto one = empty.appending(1);
    auto two = one.appending(2);
    auto three = two.appending(3);

    EXPECT_TRUE(empty.empty());
    EXPECT_EQ(valuesOf(one), (std::vector<int>{1}));
    EXPECT_EQ(valuesOf(two), (std::vector<int>{1, 2}));
    EXPECT_EQ(valuesOf(three), (std::vector<int>{1, 2, 3}));
    EXPECT_TRUE(two.sharesStorageWith(three));
    EXPECT_TRUE(one.sharesStorageWith(three));
    EXPECT_EQ(three.front().value, 1);
    EXPECT_EQ(three.back().value, 3);
}

TEST(AppendOnlyList, AGroupOfFiveThousandIsNeverCopied) {
    Counted::copies = 0;
    AppendOnlyList<Counted> list;
    std::vector<AppendOnlyList<Counted>> states;
    for (int i = 0; i < 5000; ++i) {
        list = list.appending(i);
        states.push_back(list); // every state a caller may still hold
    }
    EXPECT_EQ(Counted::copies, 0);
    ASSERT_EQ(list.size(), 5000u);
    for (std::size_t i = 0; i < list.size(); ++i) {
        ASSERT_EQ(list[i].value, static_cast<int>(i));
    }
    for (std::size_t i = 0; i < states.size(); i += 499) {
        ASSERT_EQ(states[i].size(), i + 1);
        EXPECT_EQ(states[i].back().value, static_cast<int>(i));
    }
}

TEST(AppendOnlyList, AppendingToAnOlderVersionLeavesTheNewerAlone) {
    AppendOnlyList<Counted> base{1, 2, 3};
    auto longer = base.appending(4);
    Counted::copies = 0;
    auto branch = base.appending(40);

    EXPECT_EQ(valuesOf(longer), (std::vector<int>{1, 2, 3, 4}));
    EXPECT_EQ(valuesOf(branch), (std::vector<int>{1, 2, 3, 40}));
    EXPECT_EQ(valuesOf(base), (std::vector<int>{1, 2, 3}));
    EXPECT_FALSE(branch.sharesStorageWith(longer));
    EXPECT_EQ(Counted::copies, 3); // the branch copied what it shows, once
    EXPECT_TRUE(branch.appending(41).sharesStorageWith(branch));
}

TEST(AppendOnlyList, EqualityComparesTheShownElements) {
    AppendOnlyList<Counted> a{1, 2};
    AppendOnlyList<Counted> b = AppendOnlyList<Counted>{1}.appending(2);
    EXPECT_EQ(a, b);
    EXPECT_NE(a, a.appending(3));
    EXPECT_NE(a, (AppendOnlyList<Counted>{1, 3}));
    EXPECT_EQ(AppendOnlyList<Counted>(), AppendOnlyList<Counted>(std::vector<Counted>{}));
}

// A reader on another thread checks each state it is handed while the walk goes on appending to the
// same storage, as the finder's callers read partial results.
TEST(AppendOnlyList, StatesAreReadableOnAnotherThreadWhileTheGroupGrows) {
    constexpr int members = 3000;
    std::mutex mutex;
    std::condition_variable changed;
    std::optional<DuplicateGroup> latest;
    bool done = false;
    std::atomic<int> checked{0};

    std::thread reader([&] {
        std::size_t seen = 0;
        while (true) {
            DuplicateGroup group;
            {
                std::unique_lock lock(mutex);
                changed.wait(lock, [&] { return done || (latest && latest->items.size() > seen); });
                if (!latest || latest->items.size() == seen) {
                    return;
                }
                group = *latest;
            }
            seen = group.items.size();
            std::size_t index = 0;
            for (const auto& item : group.items) {
                if (item.path != "/r/" + std::to_string(index++)) {
                    ADD_FAILURE() << item.path;
                    return;
                }
            }
            checked += 1;
        }
    });

    DuplicateGroup group{velmor::UUID::random(), {}};
    for (int i = 0; i < members; ++i) {
        group.items = group.items.appending(FileSystemItem{"/r/" + std::to_string(i), velmor::Stat(), true});
        std::lock_guard lock(mutex);
        latest = group;
        changed.notify_one();
    }
    {
        std::lock_guard lock(mutex);
        done = true;
        changed.notify_one();
    }
    reader.join();
    EXPECT_GT(checked.load(), 0);
    EXPECT_EQ(group.items.size(), static_cast<std::size_t>(members));
}

} // namespace
} // namespace sweepkit::pipeline
