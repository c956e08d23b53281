#include "app/ui/table/FileTableModel.hpp"

#include "app/ui/text/DisplayText.hpp"
#include "platform/testing/TemporaryDirectory.hpp"

#include <QAbstractItemModelTester>
#include <QSignalSpy>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>

namespace marrowdale {
namespace {

using sweepkit::FileSystemItem;
using sweepkit::FileSystemNode;
using velmor::URL;

const std::string nfc = "caf\xC3\xA9";
const std::string nfd = "cafe\xCC\x81";

FileSystemItem fileItem(const std::string& path, std::int64_t size) {
    velmor::Stat stat;
    stat.st_mode = S_IFREG | 0644;
    stat.st_size = size;
    return FileSystemItem{URL::fileURL(path), stat, true};
}

// One level of files whose names, sizes and access dates tie and differ in every way the order
// cares about. The NFC "café" has no file, so it has no access date.
class FileTableModelTest : public ::testing::Test {
protected:
    void SetUp() override {
        struct Entry {
            std::string name;
            std::int64_t size;
            time_t accessed; // 0: the file is not there
        };
        const Entry entries[] = {
            {"Zed", 300, 2000}, {"apple", 100, 3000}, {nfc, 200, 0}, {nfd, 200, 1000}, {"b", 100, 4000},
        };
        for (const auto& entry : entries) {
            const std::string path = tmp / entry.name;
            if (entry.accessed != 0) {
                tmp.writeFile(entry.name, "x");
                struct timespec times[2] = {{entry.accessed, 0}, {0, UTIME_OMIT}};
                ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
            }
            level.push_back(CleanableNode::item(fileItem(path, entry.size)));
        }
    }

    std::vector<std::string> shownNames(const QModelIndex& parent = {}) {
        std::vector<std::string> names;
        for (int row = 0; row < model.rowCount(parent); ++row) {
            names.push_back(model.node(model.index(row, 0, parent))->displayName());
        }
        return names;
    }

    velmor::testing::TemporaryDirectory tmp;
    CleanableNodes level;
    FileTableModel model{nullptr};
    QAbstractItemModelTester tester{&model, QAbstractItemModelTester::FailureReportingMode::Fatal};
};

TEST_F(FileTableModelTest, SortsALevelByEachColumnBothWays) {
    using Names = std::vector<std::string>;
    struct Case {
        FileTableColumn column;
        SortOrder order;
        Names expected;
    };
    const Case cases[] = {
        // Upper case before lower case; the two spellings of "café" tie and keep model order.
        {FileTableColumn::name, SortOrder::forward, {"Zed", "apple", "b", nfc, nfd}},
        {FileTableColumn::name, SortOrder::reverse, {nfc, nfd, "b", "apple", "Zed"}},
        {FileTableColumn::size, SortOrder::forward, {"apple", "b", nfc, nfd, "Zed"}},
        {FileTableColumn::size, SortOrder::reverse, {"Zed", nfc, nfd, "apple", "b"}},
        // No date sorts as the distant past.
        {FileTableColumn::lastOpened, SortOrder::forward, {nfc, nfd, "Zed", "apple", "b"}},
        {FileTableColumn::lastOpened, SortOrder::reverse, {"b", "apple", "Zed", nfd, nfc}},
    };
    model.setResult(level);
    EXPECT_EQ(shownNames(), (Names{"Zed", nfc, nfd, "apple", "b"})) << "a new table shows the largest first";
    // Each re-sort is one layout change, with no signal per row.
    QSignalSpy layouts(&model, &QAbstractItemModel::layoutChanged);
    QSignalSpy moves(&model, &QAbstractItemModel::rowsMoved);
    QSignalSpy changes(&model, &QAbstractItemModel::dataChanged);
    for (const auto& c : cases) {
        model.setSortOrder({columnComparator(c.column, c.order)});
        EXPECT_EQ(shownNames(), c.expected)
            << static_cast<int>(c.column) << (c.order == SortOrder::forward ? " up" : " down");
    }
    EXPECT_EQ(layouts.count(), static_cast<int>(std::size(cases)));
    EXPECT_EQ(moves.count(), 0);
    EXPECT_EQ(changes.count(), 0);
}

TEST_F(FileTableModelTest, AFolderOpensOnlyWhenAskedAndFollowsReSorts) {
    auto folder =
        CleanableNode::node(FileSystemNode::folder(URL::fileURL(tmp / "dir"), 30,
                                                   {FileSystemNode::item(fileItem(tmp / "dir/small", 10)),
                                                    FileSystemNode::item(fileItem(tmp / "dir/big", 20))}));
    auto empty = CleanableNode::node(FileSystemNode::folder(URL::fileURL(tmp / "empty"), 0, {}));
    FileTableModel lazy(nullptr);
    lazy.setResult({folder, empty, level[0]});
    ASSERT_EQ(lazy.rowCount(), 3);
    const QModelIndex dir = lazy.index(1, 0); // 30 bytes, after Zed's 300
    ASSERT_EQ(lazy.node(dir), folder.get());
    EXPECT_TRUE(lazy.hasChildren(dir));
    EXPECT_FALSE(lazy.isLevelBuilt(dir)) << "asking whether it opens makes no rows";
    const QModelIndex emptyRow = lazy.index(2, 0);
    EXPECT_FALSE(lazy.hasChildren(emptyRow)) << "an empty folder shows like a file";
    EXPECT_TRUE(lazy.flags(emptyRow) & Qt::ItemNeverHasChildren);
    EXPECT_FALSE(lazy.flags(dir) & Qt::ItemNeverHasChildren);

    // Opened, the level is sorted like the top; a kept index follows its row through a re-sort.
    QAbstractItemModelTester tester(&lazy, QAbstractItemModelTester::FailureReportingMode::Fatal);
    ASSERT_EQ(lazy.rowCount(dir), 2);
    QPersistentModelIndex big = lazy.index(0, 2, dir);
    EXPECT_EQ(lazy.node(big)->displayName(), "big");
    lazy.setSortOrder({columnComparator(FileTableColumn::size)});
    EXPECT_EQ(big.row(), 1);
    EXPECT_EQ(big.column(), 2);
    EXPECT_EQ(lazy.node(big)->displayName(), "big");
    EXPECT_EQ(lazy.parent(big), lazy.index(1, 0)) << "the folder moved too";
    EXPECT_EQ(lazy.node(lazy.parent(big)), folder.get());
}

TEST_F(FileTableModelTest, CellsShowTheHelpersTextAndIdsKeepTheirBytes) {
    const std::vector<std::string> names = {"a\xFF"
                                            "b",
                                            "line\nbreak", "<b>bold"};
    CleanableNodes odd;
    for (const auto& name : names) {
        odd.push_back(CleanableNode::item(fileItem(tmp / name, 0)));
    }
    model.setResult(odd);
    model.setSortOrder({});
    for (int row = 0; row < 3; ++row) {
        const QModelIndex index = model.index(row, 0);
        EXPECT_EQ(model.data(index).toString(), displayText(names[row]));
        EXPECT_EQ(model.node(index)->id(), tmp / names[row]);
        EXPECT_EQ(model.data(model.index(row, 1)).toString(), QStringLiteral("Zero kB"));
        EXPECT_EQ(model.data(model.index(row, 2)).toString(), QStringLiteral("--"));
    }
    EXPECT_EQ(model.data(model.index(1, 0)).toString(), QStringLiteral("line\uFFFDbreak"));
}

TEST_F(FileTableModelTest, DatesReadInTheLocalesShortDateAndTime) {
    // 2001-09-09 13:46:40 in the tests' time zone (UTC).
    const std::string path = tmp.writeFile("afternoon", "x");
    struct timespec times[2] = {{1000000000 + 12 * 3600, 0}, {0, UTIME_OMIT}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
    model.setResult({CleanableNode::item(fileItem(path, 1))});
    struct Case {
        QLocale locale;
        QString shown;
    };
    const Case cases[] = {
        {QLocale(QLocale::English, QLocale::UnitedStates), "9/9/01 1:46 PM"},
        {QLocale(QLocale::German, QLocale::Germany), "09.09.01 13:46"},
        {QLocale(QLocale::English, QLocale::UnitedKingdom), "09/09/2001 13:46"},
    };
    const QLocale before;
    for (const auto& c : cases) {
        QLocale::setDefault(c.locale);
        QString shown = model.data(model.index(0, 2)).toString();
        shown.replace(QChar(0x202F), ' '); // some locale tables put a narrow space before "PM"
        EXPECT_EQ(shown, c.shown) << c.locale.name().toStdString();
    }
    QLocale::setDefault(before);
}

TEST_F(FileTableModelTest, SelectionOfIdsComesAsRangesOfAdjacentRows) {
    model.setResult(level); // Zed, café, café, apple, b
    model.rowCount();
    const auto selection = model.selectionOf({tmp / "Zed", tmp / nfc, tmp / "b", tmp / "not-shown"});
    ASSERT_EQ(selection.size(), 2);
    EXPECT_EQ(selection[0].top(), 0);
    EXPECT_EQ(selection[0].bottom(), 1);
    EXPECT_EQ(selection[0].right(), fileTableColumnCount - 1);
    EXPECT_EQ(selection[1].top(), 4);
    EXPECT_EQ(selection[1].bottom(), 4);
}

} // namespace
} // namespace marrowdale
