#include "app/model/cleaner/Cleaner.hpp"

#include "app/model/context/Context.hpp"
#include "app/model/nodes/Selection.hpp"
#include "foundation/core/log/RecordingLogger.hpp"
#include "platform/concurrency/RunLoop.hpp"
#include "platform/testing/ChildTestRun.hpp"
#include "platform/testing/PrivilegeDrop.hpp"
#include "platform/testing/ScopedEnvironment.hpp"
#include "platform/testing/TemporaryDirectory.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <sys/stat.h>

namespace marrowdale {
namespace {

using Kind = Cleaner::State::Kind;

using velmor::testing::exists;

std::string definition(const std::string& id, const std::string& path, const std::string& conditions) {
    return "<dict><key>id</key><string>" + id + "</string><key>type</key><string>custom</string>" +
           "<key>paths</key><array><string>" + path + "</string></array>" +
           "<key>deleteEmptyFolders</key><false/><key>conditions</key>" + conditions +
           "<key>engines</key><array><dict><key>spotlight</key><dict/></dict>"
           "<dict><key>fileTraversal</key><dict/></dict></array></dict>";
}

class CleanerTest : public ::testing::Test {
protected:
    void SetUp() override {
        tmp.writeFile("home/media/movie.mkv", std::string(5000, 'm'));
        tmp.writeFile("home/media/note.txt", "n");
        tmp.writeFile("home/.cache/app/blob", "c");
        tmp.writeFile("home/Downloads/old/a.zip", "a");
        tmp.writeFile("home/Downloads/old/b.zip", "b");
        tmp.writeFile("home/Downloads/keep.pdf", "k");
        const std::string deletable = "<dict><key>fileIsDeletable</key><dict/></dict>";
        const std::string large =
            "<dict><key>fileSizeGreater</key><dict><key>than</key><integer>4000</integer></dict></dict>";
        bundle.writeFile("Resources/parameters-categories.plist",
                         "<?xml version=\"1.0\" encoding=\"UTF-8\"?><plist version=\"1.0\"><dict>"
                         "<key>categories</key><array>" +
                             definition("bigFiles", tmp / "home", large) +
                             definition("caches", tmp / "home/.cache", deletable) +
                             definition("downloads", tmp / "home/Downloads", deletable) +
                             "</array></dict></plist>");
    }

    std::shared_ptr<Cleaner> makeCleaner(const velmor::testing::TemporaryDirectory& from) {
        return Cleaner::make([this](const std::string&) { return logger; },
                             velmor::Bundle(velmor::URL::fileURL(from.path())));
    }

    void waitFor(Kind kind, Cleaner& cleaner) {
        ASSERT_TRUE(main.runUntil([&] { return cleaner.state().kind == kind; })) << static_cast<int>(kind);
    }

    // For a test that forks to drop privileges: runs it again in a fresh process, where it forks
    // before any thread has started, and tells the parent run to stop there. A fork made after
    // other tests have run threads copies only the forking thread, and its scan hung in whole runs.
    static bool ranInFreshProcess() {
        if (velmor::testing::isChildTestRun()) {
            return false;
        }
        EXPECT_EQ(velmor::testing::runCurrentTestInChild(), 0) << "the fresh run failed or hung";
        return true;
    }

    static CleanableNodes nodesOf(const Cleaner& cleaner, Category category) {
        return std::get<CleanableNodes>(cleaner.state().results.at(category));
    }

    velmor::ScopedMainRunLoop main;
    velmor::testing::TemporaryDirectory tmp;
    velmor::testing::TemporaryDirectory bundle;
    std::shared_ptr<velmor::testing::RecordingLogger> logger =
        std::make_shared<velmor::testing::RecordingLogger>();
};

TEST_F(CleanerTest, ANewCleanerIsStoppedAndReadsTheVolumeSoonAfter) {
    auto cleaner = makeCleaner(bundle);
    EXPECT_EQ(cleaner->state().kind, Kind::stopped);
    EXPECT_EQ(cleaner->categories(),
              (std::vector<Category>{Category::largeFiles, Category::junkFiles, Category::oldFiles}));
    EXPECT_TRUE(cleaner->selectedCleanableItemsIdsByCategory().empty());
    EXPECT_EQ(cleaner->fileFinderCategories().size(), 3u);
    EXPECT_FALSE(cleaner->volumeTotalCapacity());
    main.loop().drain();
    EXPECT_GT(cleaner->volumeTotalCapacity().value_or(0), 0);
    EXPECT_TRUE(cleaner->mainVolumeName());
    EXPECT_TRUE(cleaner->volumeAvailableCapacityForImportantUsage());
}

TEST_F(CleanerTest, MissingDefinitionsAreLoggedAndLeaveNone) {
    velmor::testing::TemporaryDirectory emptyBundle;
    auto cleaner = makeCleaner(emptyBundle);
    EXPECT_TRUE(cleaner->fileFinderCategories().empty());
    auto lines = logger->lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].rfind("error: Failed to fetch fileFinderCategories: ", 0), 0u) << lines[0];
}

TEST_F(CleanerTest, ScanSelectCleanAndSeeFailuresUnderTheirRows) {
    auto cleaner = makeCleaner(bundle);
    cleaner->clean(); // nothing on show: nothing happens
    EXPECT_EQ(cleaner->state().kind, Kind::stopped);
    EXPECT_FALSE(cleaner->currentRun());

    cleaner->scan();
    EXPECT_EQ(cleaner->state().kind, Kind::scanning);
    cleaner->clean();
    EXPECT_EQ(cleaner->state().kind, Kind::scanning);
    waitFor(Kind::scanned, *cleaner);

    ASSERT_EQ(cleaner->state().results.size(), 3u);
    auto large = nodesOf(*cleaner, Category::largeFiles);
    ASSERT_EQ(large.size(), 1u);
    EXPECT_EQ(large[0]->id(), tmp / "home/media/movie.mkv");
    EXPECT_EQ(nodesOf(*cleaner, Category::junkFiles).size(), 1u);
    auto old = nodesOf(*cleaner, Category::oldFiles);
    ASSERT_EQ(old.size(), 1u);
    EXPECT_EQ(old[0]->id(), tmp / "home/Downloads");

    // Select a folder and an item; the folder stands for its whole subtree.
    cleaner->setSelectedIds(Category::oldFiles,
                            {tmp / "home/Downloads/old", tmp / "home/Downloads/old/a.zip"});
    cleaner->setSelectedIds(Category::largeFiles, {tmp / "home/media/movie.mkv"});
    auto selected = cleaner->allSelectedNodes();
    std::vector<std::string> selectedIds;
    for (const auto& node : selected) {
        selectedIds.push_back(node->id());
    }
    std::sort(selectedIds.begin(), selectedIds.end());
    EXPECT_EQ(selectedIds,
              (std::vector<std::string>{tmp / "home/Downloads/old", tmp / "home/media/movie.mkv"}));

    // b.zip is replaced after the scan: it must survive, with its failure under the selected folder.
    std::filesystem::rename(tmp / "home/Downloads/old/b.zip", tmp / "home/b.zip.orig");
    tmp.writeFile("home/Downloads/old/b.zip", "new content the user never saw");

    cleaner->clean();
    EXPECT_EQ(cleaner->state().kind, Kind::cleaning);
    waitFor(Kind::scanned, *cleaner);
    main.loop().drain();

    EXPECT_FALSE(exists(tmp / "home/media/movie.mkv"));
    EXPECT_FALSE(exists(tmp / "home/Downloads/old/a.zip"));
    EXPECT_TRUE(exists(tmp / "home/Downloads/old/b.zip"));
    EXPECT_TRUE(exists(tmp / "home/Downloads/keep.pdf"));
    EXPECT_TRUE(exists(tmp / "home/media/note.txt"));
    EXPECT_TRUE(exists(tmp / "home/.cache/app/blob"));

    EXPECT_TRUE(nodesOf(*cleaner, Category::largeFiles).empty());
    auto remaining = nodesOf(*cleaner, Category::oldFiles);
    ASSERT_EQ(remaining.size(), 1u);
    auto selectedFolder = selectedNodes({tmp / "home/Downloads/old"}, remaining);
    ASSERT_EQ(selectedFolder.size(), 1u);
    auto error = cleaner->errorStore()->error(*selectedFolder[0]);
    ASSERT_TRUE(error);
    EXPECT_EQ(error->description(), "The file changed since the scan, so it was not deleted.");

    // A new scan forgets the failures.
    cleaner->scan();
    EXPECT_TRUE(cleaner->errorStore()->errors().empty());
    waitFor(Kind::scanned, *cleaner);
}

TEST_F(CleanerTest, ADeletionTheUserMayNotMakeShowsUnderItsSelectedRow) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "needs root to fork a child that drops to an unprivileged user";
    }
    if (ranInFreshProcess()) {
        return;
    }
    // The unprivileged user may read the fixture but not write any folder of it.
    ::chmod(tmp.path().c_str(), 0755);
    ::chmod(bundle.path().c_str(), 0755);
    const std::string movie = tmp / "home/media/movie.mkv";
    const int code = velmor::testing::runAsUnprivilegedUser([&] {
        auto cleaner = makeCleaner(bundle);
        cleaner->scan();
        if (!main.runUntil([&] { return cleaner->state().kind == Kind::scanned; })) {
            return 2;
        }
        cleaner->setSelectedIds(Category::largeFiles, {movie});
        if (cleaner->allSelectedNodes().size() != 1) {
            return 3;
        }
        cleaner->clean();
        if (!main.runUntil([&] { return cleaner->state().kind == Kind::scanned; })) {
            return 4;
        }
        main.loop().drain();
        auto rows = nodesOf(*cleaner, Category::largeFiles);
        if (!exists(movie) || rows.size() != 1 || rows[0]->id() != movie) {
            return 5;
        }
        auto error = cleaner->errorStore()->error(*rows[0]);
        if (!error) {
            return 6;
        }
        auto cause = error->underlyingError();
        return cause && cause->domain() == velmor::Error::posixDomain && cause->code() == EACCES ? 0 : 7;
    });
    if (code == 125) {
        GTEST_SKIP() << "could not drop privileges";
    }
    EXPECT_EQ(code, 0) << "2: no scan, 3: not selectable, 4: no clean, 5: rows or file wrong, 6: no "
                          "failure under the row, 7: not the permission denial";
}

TEST_F(CleanerTest, ACategoryWithoutSearchRootsIsLoggedWhenCleaned) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "needs root to fork a child that runs as a user without a home";
    }
    if (ranInFreshProcess()) {
        return;
    }
    ::chmod(bundle.path().c_str(), 0755);
    // A user the password database does not know has no home, so no search root can be worked out.
    const int code = velmor::testing::runAsUnprivilegedUser(
        [&] {
            auto cleaner = makeCleaner(bundle);
            cleaner->scan();
            if (!main.runUntil([&] { return cleaner->state().kind == Kind::scanned; })) {
                return 2;
            }
            cleaner->clean();
            if (!main.runUntil([&] { return cleaner->state().kind == Kind::scanned; })) {
                return 3;
            }
            const auto lines = logger->lines();
            const bool logged = std::any_of(lines.begin(), lines.end(), [](const std::string& line) {
                return line.starts_with("error: Could not get find URLs for category largeFiles: ");
            });
            return logged && !cleaner->state().results.contains(Category::largeFiles) ? 0 : 4;
        },
        velmor::testing::userWithoutPasswordEntry);
    if (code == 125) {
        GTEST_SKIP() << "could not drop privileges";
    }
    EXPECT_EQ(code, 0) << "2: no scan, 3: no clean, 4: not logged or the category stayed";
}

TEST_F(CleanerTest, StoppingAScanEndsStoppedWithNothingKept) {
    auto cleaner = makeCleaner(bundle);
    cleaner->scan();
    cleaner->currentRun().cancel();
    waitFor(Kind::stopped, *cleaner);
    EXPECT_TRUE(cleaner->state().results.empty());
    EXPECT_TRUE(cleaner->allSelectedNodes().empty());
}

TEST_F(CleanerTest, OnlyTheLatestRunShowsItsOutcome) {
    auto cleaner = makeCleaner(bundle);
    cleaner->scan();
    waitFor(Kind::scanned, *cleaner);
    cleaner->setSelectedIds(Category::largeFiles, {tmp / "home/media/movie.mkv"});

    std::vector<Kind> seen;
    cleaner->subscribe([&] { seen.push_back(cleaner->state().kind); });
    cleaner->clean();
    velmor::AnyTask replacedClean = cleaner->currentRun();
    cleaner->scan(); // replaces the clean, which still finishes its deletions
    // Let both runs finish: the replaced clean must not put its outcome on show.
    ASSERT_TRUE(
        main.runUntil([&] { return replacedClean.isFinished() && cleaner->currentRun().isFinished(); }));
    main.loop().drain();
    EXPECT_FALSE(exists(tmp / "home/media/movie.mkv"));
    EXPECT_EQ(std::count(seen.begin(), seen.end(), Kind::scanned), 1);
    EXPECT_EQ(cleaner->state().kind, Kind::scanned);
}

TEST_F(CleanerTest, AReplacedCleanRecordsNoFailureForTheNewScan) {
    auto cleaner = makeCleaner(bundle);
    cleaner->scan();
    waitFor(Kind::scanned, *cleaner);
    cleaner->setSelectedIds(Category::largeFiles, {tmp / "home/media/movie.mkv"});
    std::filesystem::rename(tmp / "home/media/movie.mkv", tmp / "home/movie.orig");
    tmp.writeFile("home/media/movie.mkv", std::string(5000, 'n')); // replaced: its clean fails

    cleaner->clean();
    velmor::AnyTask replacedClean = cleaner->currentRun();
    cleaner->scan();
    ASSERT_TRUE(
        main.runUntil([&] { return replacedClean.isFinished() && cleaner->currentRun().isFinished(); }));
    main.loop().drain();
    EXPECT_TRUE(cleaner->errorStore()->errors().empty());
    EXPECT_TRUE(cleaner->errorStore()->errorRoots().empty());
    EXPECT_TRUE(exists(tmp / "home/media/movie.mkv"));
}

TEST_F(CleanerTest, TheApplicationContextLoadsTheMainBundlesDefinitions) {
    velmor::testing::ScopedEnvironment mainBundle({{velmor::Bundle::mainBundleEnvironmentKey, bundle.path()}});
    Context context = Context::makeForApplication(nullptr);
    ASSERT_TRUE(context.cleaner);
    EXPECT_EQ(context.cleaner->fileFinderCategories().size(), 3u);
    EXPECT_FALSE(context.updatingSystem);
    ASSERT_TRUE(context.loggerFactory);
    EXPECT_TRUE(context.loggerFactory("Any"));
}

} // namespace
} // namespace marrowdale
