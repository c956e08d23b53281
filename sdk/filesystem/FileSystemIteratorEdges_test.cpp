#include "sdk/filesystem/FileSystemIterator.hpp"

#include "platform/testing/DescriptorLimit.hpp"
#include "platform/testing/FolderChain.hpp"
#include "platform/testing/NameExchanger.hpp"
#include "platform/testing/TemporaryDirectory.hpp"

#include <gtest/gtest.h>

#include <thread>
#include <unistd.h>
#include <utility>

namespace sweepkit {
namespace {

using velmor::URL;
using velmor::testing::DescriptorLimit;
using velmor::testing::makeFolderChain;
using velmor::testing::NameExchanger;
using velmor::testing::TemporaryDirectory;

using Walked = std::vector<std::pair<Event::Kind, std::string>>;

Walked walk(const std::string& root) {
    FileSystemIterator iterator(URL::fileURL(root), Options::physical, 0, {});
    Walked events;
    while (auto event = iterator.next()) {
        events.emplace_back(event->kind(), event->path());
    }
    return events;
}

// A folder at each depth is swapped with a link to a folder outside the walk, over and over, while
// the tree is walked: the walk may see the folder under either name or not at all, but it must never
// report what lies outside under a path inside the tree.
TEST(FileSystemIteratorEdges, AFolderSwappedForALinkIsNeverFollowedAtAnyDepth) {
    for (int depth : {3, 64, 65, 70, 100}) {
        TemporaryDirectory tmp;
        tmp.writeFile("outside/outside-file");
        tmp.writeFile("outside/outside-folder/outside-deeper");
        const std::string parent = makeFolderChain(tmp / "root", depth - 1);
        // Below the swapped folder the walk goes on, so deep walks open folders again through it.
        makeFolderChain(parent + "/swapped", 5);
        const std::string swapped = parent + "/swapped";
        const std::string link = parent + "/swapped-link";
        ASSERT_EQ(::symlink((tmp / "outside").c_str(), link.c_str()), 0);
        NameExchanger exchanger(swapped, link);
        if (!exchanger.failure().empty()) {
            GTEST_SKIP() << exchanger.failure();
        }
        std::vector<std::string> outside;
        // Shallow walks are over in a moment: they go on until the exchanger has been at work.
        for (int round = 0; round < 20 || (exchanger.swaps() < 200 && round < 100000); ++round) {
            for (const auto& [kind, path] : walk(tmp / "root")) {
                if (path.find("outside-") != std::string::npos) {
                    outside.push_back(path);
                }
            }
        }
        EXPECT_GT(exchanger.swaps(), 0) << "depth " << depth;
        EXPECT_EQ(outside.size(), 0u) << "depth " << depth << ", first " << (outside.empty() ? "" : outside[0]);
    }
}

TEST(FileSystemIteratorEdges, WalksUnderLowDescriptorLimitsGiveEveryEvent) {
    TemporaryDirectory tmp;
    makeFolderChain(tmp / "root", 300);
    const Walked whole = walk(tmp / "root");
    ASSERT_EQ(whole.size(), 1 + 300 * 4 + 1u);

    for (rlim_t limit : {32, 68}) {
        DescriptorLimit lowered(limit);
        ASSERT_TRUE(lowered.applied()) << limit;
        const Walked limited = walk(tmp / "root");
        EXPECT_EQ(limited.size(), whole.size()) << "limit " << limit;
        EXPECT_TRUE(limited == whole) << "limit " << limit;
    }

    constexpr int walks = 8;
    std::vector<Walked> together(walks);
    {
        DescriptorLimit lowered(256);
        ASSERT_TRUE(lowered.applied());
        std::vector<std::thread> threads;
        for (int index = 0; index < walks; ++index) {
            threads.emplace_back([&, index] { together[index] = walk(tmp / "root"); });
        }
        for (auto& thread : threads) {
            thread.join();
        }
    }
    for (int index = 0; index < walks; ++index) {
        EXPECT_EQ(together[index].size(), whole.size()) << "walk " << index;
        EXPECT_TRUE(together[index] == whole) << "walk " << index;
    }
}

} // namespace
} // namespace sweepkit
