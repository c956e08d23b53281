#include "sdk/finder/tree/TreeFileFinderAnalyzer.hpp"

#include "platform/testing/DescriptorLimit.hpp"
#include "platform/testing/FolderChain.hpp"
#include "platform/testing/NameExchanger.hpp"
#include "platform/testing/TemporaryDirectory.hpp"
#include "sdk/finder/RecordingLogger.hpp"
#include "sdk/finder/criteria/FileNameCriterion.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <unistd.h>

namespace sweepkit {
namespace {

using velmor::URL;
using velmor::testing::TemporaryDirectory;

// Every item a search for all names finds below `root`, in order, and the errors it logged.
struct Found {
    std::vector<std::string> items;
    std::vector<std::string> log;
};

Found findAll(const std::string& root) {
    Found found;
    auto logger = std::make_shared<testing::RecordingLogger>();
    const FileNameCriterion everything = FileNameCriterion::initWithWildcard("*");
    TreeFileFinderAnalyzer(logger).analyze(
        {URL::fileURL(root)}, everything, [&](const FileSystemItem& item) { found.items.push_back(item.url.path()); },
        [] {});
    found.log = logger->lines();
    return found;
}

TEST(TreeFileFinderAnalyzerEdges, ASearchUnderALowDescriptorLimitFindsEveryItem) {
    TemporaryDirectory tmp;
    velmor::testing::makeFolderChain(tmp / "root", 300);
    const Found whole = findAll(tmp / "root");
    ASSERT_GE(whole.items.size(), 600u);
    velmor::testing::DescriptorLimit lowered(64);
    ASSERT_TRUE(lowered.applied());
    const Found limited = findAll(tmp / "root");
    EXPECT_EQ(limited.items.size(), whole.items.size());
    EXPECT_TRUE(limited.items == whole.items);
    EXPECT_EQ(limited.log, whole.log);
}

TEST(TreeFileFinderAnalyzerEdges, NoSearchFindsAnItemOutsideItsRootWhileAFolderIsSwappedForALink) {
    for (int depth : {3, 70, 100}) {
        TemporaryDirectory tmp;
        tmp.writeFile("outside/outside-file");
        tmp.writeFile("outside/outside-folder/outside-deeper");
        const std::string parent = velmor::testing::makeFolderChain(tmp / "root", depth - 1);
        velmor::testing::makeFolderChain(parent + "/swapped", 5);
        ASSERT_EQ(::symlink((tmp / "outside").c_str(), (parent + "/swapped-link").c_str()), 0);
        velmor::testing::NameExchanger exchanger(parent + "/swapped", parent + "/swapped-link");
        if (!exchanger.failure().empty()) {
            GTEST_SKIP() << exchanger.failure();
        }
        std::size_t outside = 0;
        for (int round = 0; round < 20 || (exchanger.swaps() < 200 && round < 100000); ++round) {
            const Found found = findAll(tmp / "root");
            outside += std::count_if(found.items.begin(), found.items.end(), [](const std::string& path) {
                return path.find("outside-") != std::string::npos;
            });
        }
        EXPECT_EQ(outside, 0u) << "depth " << depth;
    }
}

} // namespace
} // namespace sweepkit
