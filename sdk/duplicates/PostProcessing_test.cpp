#include "sdk/duplicates/DuplicateFolderFinder.hpp"
#include "sdk/duplicates/PostProcessing.hpp"

#include "platform/testing/TemporaryDirectory.hpp"
#include "sdk/duplicates/pipeline/GroupingTestSupport.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <sys/stat.h>

namespace sweepkit {
namespace {

using velmor::testing::TemporaryDirectory;
using GroupsById = DuplicateFinderResult::GroupsById;

// Groups given as lists of paths below the fixture; each group's items are entries as they stand.
GroupsById groupsOf(const TemporaryDirectory& root, const std::vector<std::vector<std::string>>& groups) {
    GroupsById byId;
    for (const auto& paths : groups) {
        pipeline::DuplicateGroup group{velmor::UUID::random(), {}};
        for (const auto& path : paths) {
            group.items.append(pipeline::FileSystemItem(velmor::URL::fileURL(root / path), true));
        }
        byId.emplace(group.id, group);
    }
    return byId;
}

// Each group as its members' paths below the fixture, "A B"; the groups sorted.
std::vector<std::string> describe(const TemporaryDirectory& root, const GroupsById& groups) {
    std::vector<std::string> lines;
    for (const auto& [id, group] : groups) {
        std::string line;
        for (const auto& item : group.items) {
            line += (line.empty() ? "" : " ") + item.path.substr(root.path().size() + 1);
        }
        lines.push_back(line);
    }
    std::sort(lines.begin(), lines.end());
    return lines;
}

TEST(DuplicateFolderFinder, MakesOneGroupPerSetOfMatchingFoldersAndDropsTheGroupsTheyCover) {
    struct Case {
        const char* name;
        std::vector<std::string> files;
        std::vector<std::vector<std::string>> groups;
        std::vector<std::string> expected;
    };
    const Case cases[] = {
        {"two folders with the same two files",
         {"A/x", "B/x", "A/y", "B/y"},
         {{"A/x", "B/x"}, {"A/y", "B/y"}},
         {"A B"}},
        {"one folder holds a unique file too",
         {"A/x", "B/x", "A/y", "B/y", "A/z"},
         {{"A/x", "B/x"}, {"A/y", "B/y"}},
         {"A/x B/x", "A/y B/y"}},
        {"a third copy elsewhere keeps its group whole",
         {"A/x", "B/x", "C/x", "A/y", "B/y"},
         {{"A/x", "B/x", "C/x"}, {"A/y", "B/y"}},
         {"A B", "A/x B/x C/x"}},
        {"two sets of matching folders make two groups",
         {"A/x", "B/x", "C/x", "D/x", "A/y", "B/y", "C/z", "D/z"},
         {{"A/x", "B/x", "C/x", "D/x"}, {"A/y", "B/y"}, {"C/z", "D/z"}},
         // x's group keeps copies in two folder groups: it stays, so that one of A and C may go.
         {"A B", "A/x B/x C/x D/x", "C D"}},
        {"an entry in no group makes folders differ",
         {"A/x", "B/x", "A/.hidden", "B/.hidden"},
         {{"A/x", "B/x"}},
         {"A/x B/x"}},
        {"two members in one folder never match that folder with itself",
         {"A/x", "A/x2"},
         {{"A/x", "A/x2"}},
         {"A/x A/x2"}},
        {"covering counts whole path components",
         {"a/b/x", "d/e/x", "a/bc/x", "a/b/y", "d/e/y"},
         {{"a/b/x", "d/e/x", "a/bc/x"}, {"a/b/y", "d/e/y"}},
         {"a/b d/e", "a/b/x d/e/x a/bc/x"}},
        // Bundles group by identity alone: what they hold may differ.
        {"bundles of one identity do not make their folders match",
         {"A/x", "B/x", "A/Tool.app/Info.plist", "B/Tool.app/Info.plist", "B/Tool.app/only-here"},
         {{"A/x", "B/x"}, {"A/Tool.app", "B/Tool.app"}},
         {"A/Tool.app B/Tool.app", "A/x B/x"}},
        // The group of P/A and Q/A is then covered by P and Q in its turn.
        {"matching folders make their parents match in turn",
         {"P/A/x", "Q/A/x"},
         {{"P/A/x", "Q/A/x"}},
         {"P Q"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TemporaryDirectory root;
        for (const auto& file : c.files) {
            root.writeFile(file, std::filesystem::path(file).filename().string());
        }
        DuplicateFolderFinder finder(listDirectory);
        EXPECT_EQ(describe(root, finder.findFolderDuplicates(groupsOf(root, c.groups))), c.expected);
    }
}

TEST(DuplicateFolderFinder, AFolderSwappedForALinkMatchesNothing) {
    TemporaryDirectory root;
    for (const char* file : {"A/x", "B/x", "A/y", "B/y"}) {
        root.writeFile(file, file + 2);
    }
    const GroupsById groups = groupsOf(root, {{"A/x", "B/x"}, {"A/y", "B/y"}});
    std::filesystem::rename(root / "B", root / "B.real");
    std::filesystem::create_directory_symlink(root / "B.real", root / "B");

    DuplicateFolderFinder finder(listDirectory);
    EXPECT_EQ(describe(root, finder.findFolderDuplicates(groups)),
              (std::vector<std::string>{"A/x B/x", "A/y B/y"}));
    EXPECT_THROW(listDirectory(velmor::URL::fileURL(root / "B")), velmor::ErrorException);
}

TEST(DuplicateFolderFinder, ListsEachFolderOnceAndTreatsAFailedListingAsNoMatch) {
    TemporaryDirectory root;
    for (const char* file : {"A/x", "B/x", "C/x", "A/y", "B/y", "C/y"}) {
        root.writeFile(file, file + 2);
    }
    std::map<std::string, int> listings;
    DuplicateFolderFinder finder([&](const velmor::URL& folder) {
        ++listings[folder.lastPathComponent()];
        if (folder.lastPathComponent() == "C") {
            throw velmor::ErrorException(velmor::Error::posixForPath(EACCES, folder.path()));
        }
        return listDirectory(folder);
    });
    const GroupsById groups = groupsOf(root, {{"A/x", "B/x", "C/x"}, {"A/y", "B/y", "C/y"}});
    EXPECT_EQ(describe(root, finder.findFolderDuplicates(groups)),
              (std::vector<std::string>{"A B", "A/x B/x C/x", "A/y B/y C/y"}));
    EXPECT_EQ(listings["A"], 1);
    EXPECT_EQ(listings["B"], 1);
    EXPECT_EQ(listings["C"], 1);

    const URLToGroup map = mapItemsToGroups(groups);
    EXPECT_EQ(
        finder
            .foldersHaveSameContent(velmor::URL::fileURL(root / "A"), velmor::URL::fileURL(root / "B"), map)
            ->size(),
        2U);
    EXPECT_FALSE(finder.foldersHaveSameContent(velmor::URL::fileURL(root / "A"),
                                               velmor::URL::fileURL(root / "A"), map));
    EXPECT_THROW(finder.foldersHaveSameContent(velmor::URL::fileURL(root / "A"),
                                               velmor::URL::fileURL(root / "C"), map),
                 velmor::ErrorException);
}

TEST(DuplicateFolderFinder, AFolderWhoseParentTheUserCannotWriteIsNotDeletable) {
    TemporaryDirectory root;
    for (const char* file : {"locked/A/x", "locked/B/x", "open/C/y", "open/D/y"}) {
        root.writeFile(file, file);
    }
    ::chmod(root.path().c_str(), 0755);
    ::chmod((root / "locked").c_str(), 0555);
    ::chmod((root / "open").c_str(), 0777);
    for (const char* folder : {"locked/A", "locked/B", "open/C", "open/D"}) {
        ::chmod((root / folder).c_str(), 0755);
    }
    const GroupsById groups = groupsOf(root, {{"locked/A/x", "locked/B/x"}, {"open/C/y", "open/D/y"}});
    const auto flags = pipeline::testing::runUnprivileged([&] {
        std::string text;
        for (const auto& [id, group] : DuplicateFolderFinder(listDirectory).findFolderDuplicates(groups)) {
            for (const auto& item : group.items) {
                text += std::filesystem::path(item.path).filename().string() +
                        (item.hasDeletePermission ? "+ " : "- ");
            }
        }
        return text;
    });
    if (!flags) {
        GTEST_SKIP() << "needs root to drop privileges for the permission check";
    }
    EXPECT_NE(flags->find("A- "), std::string::npos) << *flags;
    EXPECT_NE(flags->find("B- "), std::string::npos) << *flags;
    EXPECT_NE(flags->find("C+ "), std::string::npos) << *flags;
    EXPECT_NE(flags->find("D+ "), std::string::npos) << *flags;
}

TEST(PostProcessing, ItemsInsidePackagesLeaveTheirGroups) {
    TemporaryDirectory root;
    for (const char* file : {"X.app/Contents/x", "X.app/Contents/y", "P/x", "Q/x", "P/y", "R/y", "P/z", "Q/z",
                             "Bundles/Y.app/Info.plist", "Other/Y.app/Info.plist"}) {
        root.writeFile(file, std::string(file).substr(std::string(file).rfind('/')));
    }
    root.writeFile("P/unique");
    // Keeps Bundles and Other from matching as folders.
    root.writeFile("Bundles/unique");
    DuplicateFinderResult result;
    result.duplicatesByHash = groupsOf(root, {{"X.app/Contents/x", "P/x", "Q/x"},
                                              {"X.app/Contents/y", "X.app/Contents/x", "P/y"},
                                              {"P/z", "Q/z"},
                                              {"Bundles/Y.app", "Other/Y.app"}});
    result.errors.push_back(ProcessingError{velmor::Error::posix(EIO), "/kept"});
    postProcess(result);
    EXPECT_EQ(describe(root, result.duplicatesByHash),
              (std::vector<std::string>{"Bundles/Y.app Other/Y.app", "P/x Q/x", "P/z Q/z"}));
    EXPECT_EQ(result.errors.size(), 1U);

    EXPECT_FALSE(isInsidePackage("/"));
    EXPECT_FALSE(isInsidePackage(root / "Bundles/Y.app"));
    EXPECT_TRUE(isInsidePackage(root / "Bundles/Y.app/Info.plist"));
    EXPECT_TRUE(isInsidePackage(root / "X.app/Contents/x"));
}

TEST(PostProcessing, RemovingItemsKeepsAGroupOnlyWithTwoItemsLeft) {
    const auto groupOf = [](std::initializer_list<const char*> paths) {
        pipeline::DuplicateGroup group{velmor::UUID::random(), {}};
        for (const char* path : paths) {
            group.items.append(pipeline::FileSystemItem(path, velmor::Stat{}, true));
        }
        return group;
    };
    const auto marked = [](const pipeline::FileSystemItem& item) { return item.path.front() == '!'; };
    const auto three = groupOf({"a", "!b", "c"});
    const auto kept = removingItems(three, marked);
    ASSERT_TRUE(kept);
    EXPECT_EQ(kept->id, three.id);
    EXPECT_EQ(kept->items.size(), 2U);
    EXPECT_EQ(kept->items.begin()->path, "a");
    EXPECT_FALSE(removingItems(groupOf({"!a", "b", "!c"}), marked));
    EXPECT_FALSE(removingItems(groupOf({"a", "!b"}), marked));
    // Nothing to take out: the group stays as it is, whatever its size.
    const auto single = groupOf({"a"});
    EXPECT_EQ(removingItems(single, marked), single);
}

} // namespace
} // namespace sweepkit
