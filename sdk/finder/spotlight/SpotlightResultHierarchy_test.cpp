#include "sdk/finder/spotlight/SpotlightResultHierarchy.hpp"

#include "platform/testing/TemporaryDirectory.hpp"
#include "sdk/finder/SpotlightFileFinderAnalyzerError.hpp"
#include "sdk/finder/criteria/AndMatchingCriterion.hpp"
#include "sdk/finder/criteria/CriterionTestSupport.hpp"
#include "sdk/finder/criteria/IsDeletableMatchingCriterion.hpp"
#include "sdk/finder/criteria/NotMatchingCriterion.hpp"
#include "sdk/finder/criteria/StatCriterionFactory.hpp"

#include <gtest/gtest.h>

#include <limits>

namespace sweepkit {
namespace {

using velmor::URL;
using Hierarchy = SpotlightResultHierarchy;
using testing::make;

constexpr std::int64_t block = 4096;

FileSystemItem found(const std::string& path, std::int64_t size = 1, bool deletable = true) {
    velmor::Stat stat;
    stat.st_size = size;
    stat.st_blksize = block;
    return FileSystemItem{URL::fileURL(path), stat, deletable};
}

FileSystemNode folder(const std::string& path, std::int64_t size, std::vector<FileSystemNode> children) {
    return FileSystemNode::folder(URL::fileURL(path), size, std::move(children));
}

FileSystemNode leaf(const std::string& path) {
    return FileSystemNode::item(found(path));
}

void expectFailureToAttach(const std::function<void()>& attach) {
    try {
        attach();
        ADD_FAILURE() << "attached";
    } catch (const SpotlightFileFinderAnalyzerError& error) {
        EXPECT_EQ(error.errorCase(), SpotlightFileFinderAnalyzerError::Case::failedToAttachToResultHierarchy);
    }
}

TEST(SpotlightResultHierarchy, MakesTheFoldersOnTheWayAndSumsRoundedSizes) {
    std::vector<FileSystemNode> roots = {folder("/r", 0, {})};
    Hierarchy::attachToRoots(found("/r/a/b/f", 1), roots);
    Hierarchy::attachToRoots(found("/r/a/g", block + 1), roots);
    Hierarchy::attachToRoots(found("/r/h", 0), roots);
    const auto expected =
        folder("/r", 3 * block,
               {folder("/r/a", 3 * block, {folder("/r/a/b", block, {leaf("/r/a/b/f")}), leaf("/r/a/g")}),
                leaf("/r/h")});
    ASSERT_EQ(roots.size(), 1u);
    EXPECT_EQ(roots[0], expected);

    // A root named with a trailing slash holds its children all the same.
    std::vector<FileSystemNode> slashed = {FileSystemNode::folder(URL::fileURL("/r/"), 0, {})};
    Hierarchy::attachToRoots(found("/r/f"), slashed);
    Hierarchy::attachToRoots(found("/r/a/f"), slashed);
    EXPECT_EQ(slashed[0].asFolder()->contentSize, 2 * block);
    EXPECT_EQ(slashed[0].asFolder()->children.size(), 2u);
}

TEST(SpotlightResultHierarchy, SumsOfSparseFilesStopAtTheLargestCount) {
    constexpr std::int64_t largest = std::numeric_limits<std::int64_t>::max();
    std::vector<FileSystemNode> roots = {folder("/r", 0, {})};
    Hierarchy::attachToRoots(found("/r/a/f", largest - 1), roots);
    Hierarchy::attachToRoots(found("/r/a/g", std::int64_t{1} << 62), roots);
    Hierarchy::attachToRoots(found("/r/h", 1), roots);
    EXPECT_EQ(roots[0].asFolder()->contentSize, largest);
    EXPECT_EQ(roots[0].asFolder()->children.at(0).asFolder()->contentSize, largest);
}

TEST(SpotlightResultHierarchy, TheFirstRootHoldingThePathInWholeComponentsTakesTheItem) {
    std::vector<FileSystemNode> roots = {folder("/r/ab", 0, {}), folder("/r/a", 0, {}), folder("/r", 0, {})};
    Hierarchy::attachToRoots(found("/r/a/x"), roots);
    Hierarchy::attachToRoots(found("/r/abc/x"), roots);
    EXPECT_EQ(roots[0], folder("/r/ab", 0, {})) << "/r/ab shares only characters with /r/abc";
    EXPECT_EQ(roots[1], folder("/r/a", block, {leaf("/r/a/x")}));
    EXPECT_EQ(roots[2], folder("/r", block, {folder("/r/abc", block, {leaf("/r/abc/x")})}));

    std::vector<FileSystemNode> elsewhere = {folder("/r/ab", 0, {})};
    expectFailureToAttach([&] { Hierarchy::attachToRoots(found("/r/abc/x"), elsewhere); });
    expectFailureToAttach([&] { Hierarchy::attachToRoots(found("/r/ab"), elsewhere); });
    EXPECT_EQ(elsewhere[0], folder("/r/ab", 0, {}));
}

TEST(SpotlightResultHierarchy, AnItemInTheWayRefusesTheAttachAndChangesNothing) {
    FileSystemNode root = folder("/r", block, {leaf("/r/x.app")});
    const FileSystemNode before = root;
    expectFailureToAttach([&] { Hierarchy::attach(found("/r/x.app/Contents/f"), root); });
    EXPECT_EQ(root, before);
    FileSystemNode item = leaf("/r/f");
    expectFailureToAttach([&] { Hierarchy::attach(found("/r/f/g"), item); });
}

TEST(SpotlightResultHierarchy, BuildKeepsItemRootsAndFoldersThatReceivedItems) {
    velmor::testing::TemporaryDirectory dir;
    const std::string empty = dir.makeDirectory("empty");
    const std::string full = dir.makeDirectory("full");
    const std::string file = dir.writeFile("file", "x");
    const std::string missing = dir / "missing";

    auto result = Hierarchy::build(
        {found(full + "/a"), found("/elsewhere/b")}, *make<IsDeletableMatchingCriterion>(),
        {URL::fileURL(empty), URL::fileURL(full), URL::fileURL(file), URL::fileURL(missing)});

    ASSERT_EQ(result.nodes.size(), 3u);
    EXPECT_EQ(result.nodes[0], folder(full, block, {leaf(full + "/a")}));
    ASSERT_TRUE(result.nodes[1].isItem());
    EXPECT_EQ(result.nodes[1].url().path(), file);
    EXPECT_EQ(result.nodes[1].asItem()->metadata.st_size, 1) << "read from disk";
    EXPECT_TRUE(result.nodes[1].asItem()->hasDeletePermission);
    ASSERT_TRUE(result.nodes[2].isItem());
    EXPECT_EQ(result.nodes[2].asItem()->metadata, velmor::Stat{}) << "a root that cannot be read";
    ASSERT_EQ(result.errors.size(), 1u);
    EXPECT_EQ(result.errors[0].path, "/elsewhere/b");
    EXPECT_EQ(result.errors[0].error.domain(), SpotlightFileFinderAnalyzerError::domain);
    EXPECT_EQ(result.errors[0].error.code(),
              static_cast<int>(SpotlightFileFinderAnalyzerError::Case::failedToAttachToResultHierarchy));
}

TEST(SpotlightResultHierarchy, DeletabilityIsJudgedAfterTheQuery) {
    const std::vector<FileSystemItem> items = {found("/r/yes", 1, true), found("/r/no", 1, false)};
    auto deletable = make<IsDeletableMatchingCriterion>();
    AnyFileMatchingCriterion large = StatCriterionFactory::sizeGreaterThan(0);

    struct Case {
        AnyFileMatchingCriterion criterion;
        std::vector<std::string> kept;
    };
    const Case cases[] = {
        {large, {"/r/yes", "/r/no"}},
        {make<AndMatchingCriterion>(FileMatchingCriteria{large, deletable}), {"/r/yes"}},
        {make<AndMatchingCriterion>(FileMatchingCriteria{large, make<NotMatchingCriterion>(deletable)}),
         {"/r/no"}},
    };
    for (const auto& c : cases) {
        std::vector<std::string> kept;
        for (const auto& item : Hierarchy::filterDeletable(items, *c.criterion)) {
            kept.push_back(item.url.path());
        }
        EXPECT_EQ(kept, c.kept) << c.criterion->description();
    }
}

} // namespace
} // namespace sweepkit
