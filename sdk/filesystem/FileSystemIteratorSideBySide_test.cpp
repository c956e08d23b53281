#include "sdk/filesystem/FileSystemIterator.hpp"

#include "platform/testing/TemporaryDirectory.hpp"

#include <gtest/gtest.h>

#include <thread>
#include <utility>

namespace sweepkit {
namespace {

using velmor::URL;
using velmor::testing::TemporaryDirectory;

constexpr int walks = 8;

// What a walk says about each entry, in order.
std::vector<std::pair<Event::Kind, std::string>> walk(const std::string& root) {
    FileSystemIterator iterator(URL::fileURL(root), Options::physical, 0, {});
    std::vector<std::pair<Event::Kind, std::string>> events;
    while (auto event = iterator.next()) {
        events.emplace_back(event->kind(), event->path());
    }
    return events;
}

// A tree whose names differ from every other tree's at every level, so an entry looked up in the
// wrong folder fails instead of passing by chance.
std::string makeTree(const TemporaryDirectory& tmp, int tree) {
    const std::string prefix = "t" + std::to_string(tree) + "-";
    for (int folder = 0; folder < 10; ++folder) {
        for (int sub = 0; sub < 5; ++sub) {
            for (int file = 0; file < 20; ++file) {
                tmp.writeFile(prefix + "root/" + prefix + "d" + std::to_string(folder) + "/" + prefix + "s" +
                              std::to_string(sub) + "/" + prefix + "f" + std::to_string(file));
            }
        }
    }
    return tmp / (prefix + "root");
}

TEST(FileSystemIteratorSideBySide, WalksOnSeveralThreadsEachSeeTheirLoneWalk) {
    TemporaryDirectory tmp;
    std::vector<std::string> roots;
    std::vector<std::vector<std::pair<Event::Kind, std::string>>> alone;
    for (int tree = 0; tree < walks; ++tree) {
        roots.push_back(makeTree(tmp, tree));
        alone.push_back(walk(roots.back()));
        ASSERT_EQ(alone.back().size(), 2u + 10 * (2 + 5 * (2 + 20)));
    }

    std::vector<std::vector<std::pair<Event::Kind, std::string>>> together(walks);
    std::vector<std::thread> threads;
    for (int tree = 0; tree < walks; ++tree) {
        threads.emplace_back([&, tree] {
            for (int round = 0; round < 3; ++round) {
                together[tree] = walk(roots[tree]);
                if (together[tree] != alone[tree]) {
                    return;
                }
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    for (int tree = 0; tree < walks; ++tree) {
        EXPECT_EQ(together[tree], alone[tree]) << "walk of tree " << tree;
    }
}

} // namespace
} // namespace sweepkit
