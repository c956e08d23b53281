#include "app/ui/home/MainBox.hpp"

#include "app/model/testing/DefinitionsBundle.hpp"
#include "app/ui/table/FileSelector.hpp"
#include "app/ui/table/FileTableModel.hpp"
#include "app/ui/testing/CleanerRuns.hpp"
#include "app/ui/testing/Screenshots.hpp"
#include "foundation/core/log/RecordingLogger.hpp"
#include "platform/error/Error.hpp"

#include <QHeaderView>
#include <QLabel>
#include <QProgressBar>
#include <QTest>
#include <QTreeView>

#include <gtest/gtest.h>

namespace marrowdale {
namespace {

using Kind = Cleaner::State::Kind;
using Content = MainBox::Content;
using velmor::testing::exists;

TEST(MainBoxContent, OneRowPerStateAndEntry) {
    const Cleaner::Results results{{Category::largeFiles, CleanableNodes{}},
                                   {Category::junkFiles, velmor::Error::posix(EACCES)}};
    struct Case {
        const char* what;
        Cleaner::State state;
        Category category;
        Content content;
    };
    const Case cases[] = {
        {"before a scan", Cleaner::State::stopped(), Category::largeFiles, Content::explanation},
        {"scanning", Cleaner::State::scanning(), Category::largeFiles, Content::progress},
        {"an empty node list: the empty table", Cleaner::State::scanned(results), Category::largeFiles,
         Content::table},
        {"a failed category", Cleaner::State::scanned(results), Category::junkFiles, Content::error},
        {"missing from the results", Cleaner::State::scanned(results), Category::oldFiles,
         Content::explanation},
        {"cleaning keeps the table", Cleaner::State::cleaning(results), Category::largeFiles, Content::table},
        {"cleaning keeps the failure", Cleaner::State::cleaning(results), Category::junkFiles,
         Content::error},
        {"cleaning, missing", Cleaner::State::cleaning(results), Category::oldFiles, Content::explanation},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(MainBox::contentFor(c.state, c.category), c.content) << c.what;
    }
}

// A home with two large files and a downloads folder; junk has no definitions, so it scans to an
// empty list.
class MainBoxTest : public ::testing::Test {
protected:
    void SetUp() override {
        home.writeFile("big-one.bin", std::string(6000, 'a'));
        home.writeFile("big-two.bin", std::string(7000, 'b'));
        home.writeFile("Downloads/setup.iso", "s");
        testing::writeDefinitions(
            bundle, {testing::definitionEntry("bigFiles", home.path(), testing::largerThanCondition(5000)),
                     testing::definitionEntry("downloads", home / "Downloads", testing::deletableCondition)});
        cleaner = Cleaner::make([this](const std::string&) { return logger; },
                                velmor::Bundle(velmor::URL::fileURL(bundle.path())));
        box = std::make_unique<MainBox>(cleaner, Category::largeFiles);
        box->resize(700, 420);
        box->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(box.get()));
    }

    void TearDown() override { testing::endCurrentRun(*cleaner); }

    void waitFor(Kind kind) {
        ASSERT_TRUE(testing::waitForState(*cleaner, kind));
        box->flush();
    }

    int rows() const { return box->fileSelector()->model().rowCount(); }

    velmor::testing::TemporaryDirectory home;
    velmor::testing::TemporaryDirectory bundle;
    std::shared_ptr<velmor::testing::RecordingLogger> logger =
        std::make_shared<velmor::testing::RecordingLogger>();
    std::shared_ptr<Cleaner> cleaner;
    std::unique_ptr<MainBox> box;
};

TEST_F(MainBoxTest, FollowsTheCleanerThroughEveryState) {
    EXPECT_EQ(box->content(), Content::explanation);
    EXPECT_FALSE(box->fileSelector());
    EXPECT_EQ(box->explanation().text().left(10), "Marrowdale");
    testing::saveScreenshot(*box, "main-box-stopped");

    cleaner->scan();
    box->flush();
    EXPECT_EQ(box->content(), Content::progress);
    EXPECT_LE(box->progress().width(), 100);
    testing::saveScreenshot(*box, "main-box-scanning");

    waitFor(Kind::scanned);
    ASSERT_EQ(box->content(), Content::table);
    EXPECT_EQ(rows(), 2);
    testing::saveScreenshot(*box, "main-box-large-files");

    box->setDisplayedCategory(Category::junkFiles);
    ASSERT_EQ(box->content(), Content::table);
    EXPECT_EQ(rows(), 0);
    testing::saveScreenshot(*box, "main-box-empty-list");

    box->setDisplayedCategory(Category::largeFiles);
    FileSelector* table = box->fileSelector();
    // Selecting through the table writes the displayed category's set.
    QTreeView& view = table->view();
    const QModelIndex first = view.model()->index(0, 0);
    view.selectionModel()->select(first, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    const auto selected = cleaner->selectedCleanableItemsIdsByCategory().at(Category::largeFiles);
    ASSERT_EQ(selected.size(), 1u);
    box->flush();
    EXPECT_EQ(box->fileSelector(), table) << "a change of the selection alone keeps the table";
    // Clearing stores an empty set; the entry stays.
    view.selectionModel()->clearSelection();
    ASSERT_TRUE(cleaner->selectedCleanableItemsIdsByCategory().contains(Category::largeFiles));
    EXPECT_TRUE(cleaner->selectedCleanableItemsIdsByCategory().at(Category::largeFiles).empty());
    view.selectionModel()->select(first, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    box->flush();
    const std::string doomed = *selected.begin();

    cleaner->clean();
    box->flush();
    ASSERT_EQ(box->content(), Content::table);
    FileSelector* during = box->fileSelector();
    EXPECT_TRUE(during->isHidden());
    EXPECT_FALSE(during->isEnabled());
    EXPECT_TRUE(during->sizePolicy().retainSizeWhenHidden());
    EXPECT_TRUE(box->cleaningProgress().isVisible());
    EXPECT_LE(box->cleaningProgress().width(), 100);
    testing::saveScreenshot(*box, "main-box-cleaning");

    waitFor(Kind::scanned);
    ASSERT_EQ(box->content(), Content::table);
    EXPECT_TRUE(box->fileSelector()->isVisible());
    EXPECT_TRUE(box->fileSelector()->isEnabled());
    EXPECT_FALSE(box->cleaningProgress().isVisible());
    EXPECT_EQ(rows(), 1);
    EXPECT_FALSE(exists(doomed));
    EXPECT_EQ(exists(home / "big-one.bin") + exists(home / "big-two.bin"), 1);
    testing::saveScreenshot(*box, "main-box-after-clean");
}

// The row of `id` among the rows the table has made.
QModelIndex rowOf(const FileSelector& table, const std::string& id) {
    QModelIndex found;
    table.model().forEachBuiltRow([&](const QModelIndex& index, CleanableNode& node) {
        if (node.id() == id) {
            found = index;
        }
    });
    return found;
}

TEST_F(MainBoxTest, EachCategoryKeepsItsOrderAndOpenFoldersAcrossASwitchAndAClean) {
    home.writeFile("Downloads/sub/inner.txt", "i");
    cleaner->scan();
    waitFor(Kind::scanned);
    const FileRowSortOrder byName{columnComparator(FileTableColumn::name)};
    const FileRowSortOrder bySizeAscending{columnComparator(FileTableColumn::size)};

    box->setDisplayedCategory(Category::oldFiles);
    FileSelector* old = box->fileSelector();
    old->view().expand(rowOf(*old, home / "Downloads"));
    old->view().expand(rowOf(*old, home / "Downloads/sub"));
    old->applyHeaderSort(columnComparator(FileTableColumn::name));
    box->setDisplayedCategory(Category::largeFiles);
    EXPECT_EQ(box->fileSelector()->sortOrder(), initialFileSortOrder()) << "each category has its own";
    box->fileSelector()->applyHeaderSort(columnComparator(FileTableColumn::size));
    ASSERT_EQ(box->fileSelector()->sortOrder(), bySizeAscending);

    const auto expectOldFilesAsLeft = [&](const char* picture) {
        box->setDisplayedCategory(Category::oldFiles);
        FileSelector* table = box->fileSelector();
        EXPECT_EQ(table->sortOrder(), byName) << picture;
        EXPECT_EQ(table->view().header()->sortIndicatorSection(), static_cast<int>(FileTableColumn::name));
        EXPECT_TRUE(table->view().isExpanded(rowOf(*table, home / "Downloads"))) << picture;
        EXPECT_TRUE(table->view().isExpanded(rowOf(*table, home / "Downloads/sub"))) << picture;
        testing::saveScreenshot(*box, picture);
    };
    expectOldFilesAsLeft("main-box-old-files-after-switch");

    // A clean of a large file makes every table anew.
    cleaner->setSelectedIds(Category::largeFiles, {home / "big-one.bin"});
    cleaner->clean();
    waitFor(Kind::scanned);
    ASSERT_FALSE(exists(home / "big-one.bin"));
    expectOldFilesAsLeft("main-box-old-files-after-clean");
    box->setDisplayedCategory(Category::largeFiles);
    EXPECT_EQ(box->fileSelector()->sortOrder(), bySizeAscending);
}

} // namespace
} // namespace marrowdale
