#include "app/ui/table/FileSelector.hpp"

#include "app/model/cleaner/Cleaner.hpp"
#include "app/model/testing/DefinitionsBundle.hpp"
#include "app/ui/table/FileTableModel.hpp"
#include "app/ui/table/LegacyOutlineView.hpp"
#include "app/ui/testing/CleanerRuns.hpp"
#include "app/ui/testing/Screenshots.hpp"
#include "foundation/core/log/RecordingLogger.hpp"
#include "platform/testing/TemporaryDirectory.hpp"

#include <QApplication>
#include <QHeaderView>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionHeader>
#include <QMenu>
#include <QTreeView>

#include <QTest>

#include <gtest/gtest.h>

#include <filesystem>

namespace marrowdale {
namespace {

using Ids = std::unordered_set<std::string>;
using Kind = Cleaner::State::Kind;

// A real scan of a small Downloads folder, shown in a file selector bound to the cleaner's selection
// of old files.
class FileSelectorTest : public ::testing::Test {
protected:
    void SetUp() override {
        tmp.writeFile("Downloads/old/a.zip", std::string(3000, 'a'));
        tmp.writeFile("Downloads/old/b.zip", std::string(2000, 'b'));
        tmp.writeFile("Downloads/keep.pdf", std::string(500, 'k'));
        tmp.writeFile("Downloads/a\xFF"
                      "b",
                      "x");
        tmp.writeFile("Downloads/line\nbreak", "x");
        tmp.writeFile("Downloads/<b>bold", "x");
        testing::writeDefinitions(
            bundle, {testing::definitionEntry("downloads", tmp / "Downloads", testing::deletableCondition)});
        cleaner = Cleaner::make([this](const std::string&) { return logger; },
                                velmor::Bundle(velmor::URL::fileURL(bundle.path())));
        cleaner->scan();
        ASSERT_TRUE(QTest::qWaitFor([&] { return cleaner->state().kind == Kind::scanned; }, 30'000));
    }

    // A run ends before its cleaner goes: its task holds the cleaner until it has finished.
    void TearDown() override { testing::endCurrentRun(*cleaner); }

    CleanableNodes oldFiles() const {
        return std::get<CleanableNodes>(cleaner->state().results.at(Category::oldFiles));
    }

    SelectionBinding binding() {
        return {[this]() -> const Ids& { return cleaner->selectedIds(Category::oldFiles); },
                [this](const SelectionChange& change) {
                    ++writes;
                    cleaner->changeSelectedIds(Category::oldFiles, change);
                },
                [this] { return cleaner->selectionRevision(); }};
    }

    std::unique_ptr<FileSelector>
    makeSelector(FileSelector::Presentation presentation = FileSelector::Presentation::table) {
        auto selector =
            std::make_unique<FileSelector>(oldFiles(), cleaner->errorStore(), binding(), presentation);
        selector->resize(720, 320);
        selector->show();
        return selector;
    }

    // The row of `id` among the rows made so far.
    static QModelIndex rowOf(const FileSelector& selector, const std::string& id) {
        QModelIndex found;
        selector.model().forEachBuiltRow([&](const QModelIndex& index, CleanableNode& node) {
            if (node.id() == id) {
                found = index;
            }
        });
        return found;
    }

    velmor::testing::TemporaryDirectory tmp;
    velmor::testing::TemporaryDirectory bundle;
    std::shared_ptr<velmor::testing::RecordingLogger> logger =
        std::make_shared<velmor::testing::RecordingLogger>();
    std::shared_ptr<Cleaner> cleaner;
    int writes = 0;
};

TEST_F(FileSelectorTest, SelectionFlowsBothWaysAndSurvivesSortsAndRebuilds) {
    auto selector = makeSelector();
    auto& view = selector->view();
    const QModelIndex downloads = rowOf(*selector, tmp / "Downloads");
    ASSERT_TRUE(downloads.isValid());
    view.expand(downloads);

    // The user selects a row: the cleaner has its id, and hearing it back changes nothing.
    view.selectionModel()->select(rowOf(*selector, tmp / "Downloads/old"),
                                  QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    EXPECT_EQ(binding().get(), Ids{tmp / "Downloads/old"});
    EXPECT_EQ(writes, 1);
    selector->refreshSelection();
    EXPECT_EQ(writes, 1);

    // The model selects a row not made yet (inside "old") and one that is shown.
    cleaner->setSelectedIds(Category::oldFiles, {tmp / "Downloads/old/a.zip", tmp / "Downloads/keep.pdf"});
    selector->refreshSelection();
    EXPECT_EQ(writes, 1);
    EXPECT_TRUE(
        view.selectionModel()->isRowSelected(rowOf(*selector, tmp / "Downloads/keep.pdf").row(), downloads));
    // Clicking another row adds it; the row not made yet stays selected.
    view.selectionModel()->select(rowOf(*selector, tmp / "Downloads/old"),
                                  QItemSelectionModel::Select | QItemSelectionModel::Rows);
    EXPECT_EQ(binding().get(),
              (Ids{tmp / "Downloads/old/a.zip", tmp / "Downloads/keep.pdf", tmp / "Downloads/old"}));
    // Opened, its row shows as selected.
    view.expand(rowOf(*selector, tmp / "Downloads/old"));
    const QModelIndex a = rowOf(*selector, tmp / "Downloads/old/a.zip");
    ASSERT_TRUE(a.isValid());
    EXPECT_TRUE(view.selectionModel()->isSelected(a));
    EXPECT_FALSE(view.selectionModel()->isSelected(rowOf(*selector, tmp / "Downloads/old/b.zip")));
    testing::saveScreenshot(*selector, QStringLiteral("file-table-selected"));

    // A re-sort moves the rows; the same ids are selected, and nothing is written back.
    const int before = writes;
    selector->applyHeaderSort(columnComparator(FileTableColumn::name));
    EXPECT_EQ(writes, before);
    Ids shown;
    for (const auto& index : view.selectionModel()->selectedRows()) {
        shown.insert(selector->model().node(index)->id());
    }
    EXPECT_EQ(shown, binding().get());
    testing::saveScreenshot(*selector, QStringLiteral("file-table-by-name"));

    // A new node list: rows are made anew, open folders stay open, the selection stays.
    selector->setResult(oldFiles());
    EXPECT_TRUE(view.isExpanded(rowOf(*selector, tmp / "Downloads")));
    EXPECT_TRUE(view.isExpanded(rowOf(*selector, tmp / "Downloads/old")));
    EXPECT_TRUE(view.selectionModel()->isSelected(rowOf(*selector, tmp / "Downloads/old/a.zip")));
    EXPECT_EQ(writes, before);
}

// The ids of the rows the view's selection holds, shown or inside a closed folder.
Ids highlighted(const FileSelector& selector) {
    Ids ids;
    for (const auto& index : selector.view().selectionModel()->selectedRows()) {
        ids.insert(selector.model().node(index)->id());
    }
    return ids;
}

TEST_F(FileSelectorTest, WhatIsHighlightedIsWhatIsSelectedAcrossASwitchOfCategory) {
    struct Case {
        const char* name;
        bool closeFolderBeforeSwitch;
        bool resortAfterSwitch;
    };
    for (const Case& test : {Case{"open", false, false}, Case{"open, re-sorted", false, true},
                             Case{"closed", true, false}, Case{"closed, re-sorted", true, true}}) {
        SCOPED_TRACE(test.name);
        cleaner->setSelectedIds(Category::oldFiles, {});
        const std::string inside = tmp / "Downloads/old/a.zip";
        std::unordered_set<std::string> openIds;
        FileRowSortOrder sortOrder;
        {
            auto selector = makeSelector();
            auto& view = selector->view();
            view.expand(rowOf(*selector, tmp / "Downloads"));
            view.expand(rowOf(*selector, tmp / "Downloads/old"));
            view.selectionModel()->select(rowOf(*selector, inside),
                                          QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
            ASSERT_EQ(binding().get(), Ids{inside});
            if (test.closeFolderBeforeSwitch) {
                view.collapse(rowOf(*selector, tmp / "Downloads/old"));
            }
            openIds = selector->openIds();
            sortOrder = selector->sortOrder();
        }
        // Back to the category, as the main box does it: a new table, sorted and opened as it was
        // left before it was ever laid out.
        auto selector = std::make_unique<FileSelector>(oldFiles(), cleaner->errorStore(), binding());
        selector->setSortOrder(sortOrder);
        selector->open(openIds);
        selector->resize(720, 320);
        selector->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(selector.get()));
        auto& view = selector->view();
        EXPECT_EQ(highlighted(*selector), Ids{inside});
        EXPECT_EQ(binding().get(), Ids{inside});
        if (test.resortAfterSwitch) {
            selector->applyHeaderSort(columnComparator(FileTableColumn::name));
            EXPECT_EQ(highlighted(*selector), Ids{inside});
        }
        testing::saveScreenshot(*selector, QStringLiteral("file-table-after-switch-%1")
                                               .arg(QString::fromUtf8(test.name).replace(", ", "-")));

        // A plain click makes the selection exactly the clicked row.
        const QModelIndex keep = rowOf(*selector, tmp / "Downloads/keep.pdf");
        ASSERT_TRUE(keep.isValid());
        QTest::mouseClick(view.viewport(), Qt::LeftButton, {}, view.visualRect(keep).center());
        EXPECT_EQ(binding().get(), Ids{tmp / "Downloads/keep.pdf"});
        EXPECT_EQ(highlighted(*selector), binding().get());

        // Back to the row inside, then a click on empty space empties the selection.
        cleaner->setSelectedIds(Category::oldFiles, {inside});
        selector->refreshSelection();
        EXPECT_EQ(highlighted(*selector), Ids{inside});
        QTest::mouseClick(view.viewport(), Qt::LeftButton, {}, QPoint(10, view.viewport()->height() - 4));
        EXPECT_EQ(binding().get(), Ids{});
        EXPECT_EQ(highlighted(*selector), Ids{});
        // Whatever the clean would take is what the view shows.
        EXPECT_TRUE(cleaner->allSelectedNodes().empty());
    }
}

TEST_F(FileSelectorTest, HeaderClicksSortAndShowTheFirstColumn) {
    auto selector = makeSelector();
    auto* header = selector->view().header();
    EXPECT_EQ(header->sortIndicatorSection(), static_cast<int>(FileTableColumn::size));
    EXPECT_EQ(header->sortIndicatorOrder(), Qt::DescendingOrder);
    struct Click {
        FileTableColumn column;
        FileRowComparator expected;
    };
    const Click clicks[] = {
        {FileTableColumn::size, columnComparator(FileTableColumn::size)},
        {FileTableColumn::size, columnComparator(FileTableColumn::size, SortOrder::reverse)},
        {FileTableColumn::name, columnComparator(FileTableColumn::name)},
        {FileTableColumn::lastOpened, columnComparator(FileTableColumn::lastOpened)},
    };
    for (const auto& click : clicks) {
        emit header->sectionClicked(static_cast<int>(click.column));
        ASSERT_EQ(selector->sortOrder(), FileRowSortOrder{click.expected});
        EXPECT_EQ(header->sortIndicatorSection(), static_cast<int>(click.column));
        EXPECT_EQ(header->sortIndicatorOrder(),
                  click.expected.order() == SortOrder::forward ? Qt::AscendingOrder : Qt::DescendingOrder);
    }
}

// The sort arrow `style` draws for `indicator`.
QImage sortArrow(const QStyle& style, QStyleOptionHeader::SortIndicator indicator) {
    QImage image(16, 16, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QStyleOptionHeader option;
    option.rect = image.rect();
    option.sortIndicator = indicator;
    option.palette = QApplication::palette();
    QPainter painter(&image);
    style.drawPrimitive(QStyle::PE_IndicatorHeaderArrow, &option, &painter);
    return image;
}

TEST_F(FileSelectorTest, TheHeadersArrowPointsTheWayTheRowsRunAsTheOutlinesDoes) {
    auto selector = makeSelector();
    auto* header = selector->view().header();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(selector.get()));
    testing::saveScreenshot(*selector, QStringLiteral("file-table-largest-first"));
    // Largest first: Qt asks for the "up" indicator of a descending order; the table draws the
    // arrow that points down, as the outline's button does for the same order.
    ASSERT_EQ(header->sortIndicatorOrder(), Qt::DescendingOrder);
    const QStyle& plain = *QApplication::style();
    const QImage down = sortArrow(plain, QStyleOptionHeader::SortDown);
    ASSERT_NE(down, sortArrow(plain, QStyleOptionHeader::SortUp)) << "the style draws both arrows alike";
    EXPECT_EQ(sortArrow(*header->style(), QStyleOptionHeader::SortUp), down);
    EXPECT_EQ(sortArrow(*header->style(), QStyleOptionHeader::SortDown), sortArrow(plain, QStyleOptionHeader::SortUp));

    auto outline = makeSelector(FileSelector::Presentation::outline);
    EXPECT_EQ(outline->outline()->sortDirectionShown(FileTableColumn::size), "down");
    testing::saveScreenshot(*outline, QStringLiteral("file-outline-largest-first"));
}

TEST_F(FileSelectorTest, TheContextMenuRevealsOneEntryOnly) {
    // A whole definition's result is one more row, with no location.
    FileFinderCategory downloads;
    downloads.id = "downloads";
    auto nodes = oldFiles();
    nodes.push_back(CleanableNode::nonBrowsableResult(downloads, {}));
    FileSelector selector(nodes, cleaner->errorStore(), binding());
    struct Case {
        const char* what;
        Ids ids;
        int actions;
    };
    const Case cases[] = {
        {"one row", {tmp / "Downloads/keep.pdf"}, 1},
        {"two unrelated rows", {tmp / "Downloads/keep.pdf", tmp / "Downloads/old/a.zip"}, 0},
        {"a folder and its descendant", {tmp / "Downloads/old", tmp / "Downloads/old/a.zip"}, 1},
        {"a whole-definition row", {"downloads"}, 0},
        {"an id of nothing shown", {tmp / "elsewhere"}, 0},
    };
    for (const auto& c : cases) {
        auto menu = selector.makeContextMenu(c.ids);
        ASSERT_EQ(menu->actions().size(), c.actions) << c.what;
        if (c.actions == 1) {
            EXPECT_EQ(menu->actions().front()->text().toStdString(), "Show in File Manager") << c.what;
        }
    }

    // The menu is for the selection when the clicked row is in it, else for the clicked row alone.
    selector.model().rowCount();
    const QModelIndex downloadsRow = rowOf(selector, tmp / "Downloads");
    const QModelIndex definitionRow = rowOf(selector, "downloads");
    cleaner->setSelectedIds(Category::oldFiles, {tmp / "Downloads", tmp / "Downloads/keep.pdf"});
    selector.refreshSelection();
    EXPECT_EQ(selector.contextMenuIds(downloadsRow), (Ids{tmp / "Downloads", tmp / "Downloads/keep.pdf"}));
    EXPECT_EQ(selector.contextMenuIds(definitionRow), Ids{"downloads"});
}

TEST_F(FileSelectorTest, ARightClickLeavesTheSelectionAsItWasAndTheMenuIsForTheClickedRow) {
    for (auto presentation : {FileSelector::Presentation::table, FileSelector::Presentation::outline}) {
        cleaner->setSelectedIds(Category::oldFiles, {tmp / "Downloads/old"});
        auto selector = makeSelector(presentation);
        auto& view = selector->view();
        view.expand(rowOf(*selector, tmp / "Downloads"));
        ASSERT_TRUE(QTest::qWaitForWindowExposed(selector.get()));
        const QModelIndex keep = rowOf(*selector, tmp / "Downloads/keep.pdf");
        ASSERT_TRUE(keep.isValid());
        const QPoint where = view.visualRect(keep).center();
        const int before = writes;
        QTest::mousePress(view.viewport(), Qt::RightButton, {}, where);
        QTest::mouseRelease(view.viewport(), Qt::RightButton, {}, where);
        if (presentation == FileSelector::Presentation::table) {
            testing::saveScreenshot(*selector, QStringLiteral("file-table-after-right-click"));
        }
        EXPECT_EQ(binding().get(), Ids{tmp / "Downloads/old"});
        EXPECT_EQ(writes, before);
        EXPECT_FALSE(view.selectionModel()->isSelected(keep));
        EXPECT_TRUE(view.selectionModel()->isSelected(rowOf(*selector, tmp / "Downloads/old")));
        EXPECT_EQ(selector->contextMenuIds(view.indexAt(where)), Ids{tmp / "Downloads/keep.pdf"});

        // The left button still selects.
        QTest::mouseClick(view.viewport(), Qt::LeftButton, {}, where);
        EXPECT_EQ(binding().get(), Ids{tmp / "Downloads/keep.pdf"});
    }
}

TEST_F(FileSelectorTest, AFailedDeletionBadgesItsErrorRootOnly) {
    cleaner->setSelectedIds(Category::oldFiles, {tmp / "Downloads/old"});
    // b.zip is replaced after the scan, so the clean keeps it and records why under "old".
    std::filesystem::rename(tmp / "Downloads/old/b.zip", tmp / "b.zip.orig");
    tmp.writeFile("Downloads/old/b.zip", "new content the user never saw");
    cleaner->clean();
    ASSERT_TRUE(QTest::qWaitFor([&] { return cleaner->state().kind == Kind::scanned; }, 30'000));

    auto selector = makeSelector();
    auto& view = selector->view();
    view.expand(rowOf(*selector, tmp / "Downloads"));
    view.expand(rowOf(*selector, tmp / "Downloads/old"));
    const auto& model = selector->model();
    std::vector<std::string> badged;
    model.forEachBuiltRow([&](const QModelIndex& index, CleanableNode& node) {
        if (model.data(index, FileTableModel::badgeRole).toBool()) {
            badged.push_back(node.id());
        }
    });
    EXPECT_EQ(badged, std::vector<std::string>{tmp / "Downloads/old"});
    const QString toolTip = model.data(rowOf(*selector, tmp / "Downloads/old"), Qt::ToolTipRole).toString();
    EXPECT_TRUE(toolTip.contains(QStringLiteral("Could not delete: The file changed since the scan")))
        << toolTip.toStdString();
    EXPECT_FALSE(model.data(rowOf(*selector, tmp / "Downloads/old/b.zip"), Qt::ToolTipRole).isValid());
    testing::saveScreenshot(*selector, QStringLiteral("file-table-failed-deletion"));

    // A new scan empties the error store: the badge goes with the next pass of the event loop.
    cleaner->scan();
    ASSERT_TRUE(QTest::qWaitFor([&] { return cleaner->state().kind == Kind::scanned; }, 30'000));
    EXPECT_FALSE(model.data(rowOf(*selector, tmp / "Downloads/old"), FileTableModel::badgeRole).toBool());
}

TEST_F(FileSelectorTest, TheDarkTableLetsTheWindowShowThrough) {
    auto selector = makeSelector();
    // The tests run in the program's dark look.
    EXPECT_EQ(selector->view().palette().color(QPalette::Base).alpha(), 0);
    EXPECT_FALSE(selector->view().viewport()->autoFillBackground());
}

} // namespace
} // namespace marrowdale
