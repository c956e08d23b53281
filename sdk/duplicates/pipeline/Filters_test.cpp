#include "sdk/duplicates/pipeline/IsBundleFilter.hpp"
#include "sdk/duplicates/pipeline/PathPatternFilter.hpp"
#include "sdk/duplicates/pipeline/SkipHiddenFilesystemItem.hpp"
#include "sdk/duplicates/pipeline/SystemFoldersFilter.hpp"

#include <gtest/gtest.h>

namespace sweepkit::pipeline {
namespace {

using velmor::Stat;

Event folder(std::string path, std::uint32_t flags = 0) {
    Stat stat;
    stat.st_mode = 040755;
    stat.st_flags = flags;
    return Event::enterDirectory(std::move(path), stat, true);
}

struct Case {
    Event event;
    bool filtered;
};

void expectCases(const Filter& filter, const std::vector<Case>& cases) {
    for (const auto& c : cases) {
        EXPECT_EQ(filter.isFiltered(c.event), c.filtered)
            << c.event.path() << " flags " << (c.event.stat() ? c.event.stat()->st_flags : 0);
    }
}

TEST(SkipHiddenFilesystemItem, NamesSuffixesAndTheHiddenFlag) {
    Stat hidden;
    hidden.st_flags = SkipHiddenFilesystemItem::hiddenFlag;
    expectCases(SkipHiddenFilesystemItem(),
                {
                    {folder("/Users/a/.ssh"), true},
                    {Event::file("/home/u/.bashrc", Stat(), true), true},
                    {folder("/private"), true},
                    {folder("/Users/a/private"), true}, // a suffix, at any depth
                    {folder("/private/tmp"), false},
                    {folder("/Users/a/.ssh/"), false}, // ends in "/": no name to look at
                    {folder(".ssh"), false},           // no "/" at all
                    {folder("/Users/a/."), false},     // steps of a path, not names
                    {folder("/Users/a/b/.."), false},
                    {folder("/Users/a/dir.d"), false},
                    {folder("/Users/a/visible", SkipHiddenFilesystemItem::hiddenFlag), true},
                    {Event::file("/Users/a/visible.txt", hidden, true), true},
                    {Event::fileError("/Users/a/.gone", velmor::Error::posix(ENOENT)), true},
                });

    SkipHiddenFilesystemItem custom;
    custom.hiddenFilePrefix = '_';
    custom.folderToSkip = {"/tmp"};
    expectCases(custom, {{folder("/a/_x"), true}, {folder("/a/.x"), false}, {folder("/var/tmp"), true}});
}

TEST(SystemFoldersFilter, SuffixesAndTheRestrictedFlag) {
    EXPECT_EQ(SystemFoldersFilter().folderToSkip.size(), 21u);
    EXPECT_EQ(SystemFoldersFilter().folderToSkip.at(10), "/boot");
    expectCases(SystemFoldersFilter(),
                {
                    {folder("/Users/a/Library/Caches"), true},
                    {folder("/Users/a/Library/CachesOld"), false},
                    {folder("/boot"), true},
                    {folder("/usr"), true},
                    // Not itself a listed folder: the walk never gets here, /usr is skipped first.
                    {folder("/usr/share"), false},
                    {folder("/var/lib"), true},
                    {folder("/home/u/.cache"), true},
                    {folder("/home/u/.local/share/flatpak"), true},
                    {folder("/home/u/usrx"), false},
                    {folder("/home/u/projects"), false},
                    {folder("/home/u/projects", SystemFoldersFilter::restrictedFlag), true},
                    {folder("/home/u/projects", SkipHiddenFilesystemItem::hiddenFlag), false},
                });
}

TEST(IsBundleFilter, LetsOnlyBundlesThrough) {
    expectCases(IsBundleFilter(), {
                                      {folder("/Applications/Tool.app"), false},
                                      {folder("/x/Plugin.bundle"), false},
                                      {folder("/Applications/Tool.APP"), true},
                                      {folder("/x/Tool.app.old"), true},
                                      {folder("/x/Plain"), true},
                                  });
}

TEST(PathPatternFilter, SubstringsWithLetterCase) {
    expectCases(PathPatternFilter({"node_modules"}), {
                                                         {folder("/a/node_modules/b"), true},
                                                         {folder("/a/node_modules"), true},
                                                         {folder("/a/Node_Modules"), false},
                                                         {folder("/a/src"), false},
                                                     });
    expectCases(PathPatternFilter({"build", ".git"}), {{folder("/r/.git"), true}, {folder("/r/src"), false}});
    expectCases(PathPatternFilter(), {{folder("/a/node_modules"), false}});
    // An empty pattern would turn every folder away; it matches nothing instead.
    expectCases(PathPatternFilter({""}), {{folder("/a"), false}});
}

} // namespace
} // namespace sweepkit::pipeline
