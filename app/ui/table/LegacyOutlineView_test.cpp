#include "app/ui/table/LegacyOutlineView.hpp"

#include "app/ui/table/FileSelector.hpp"
#include "app/ui/table/FileTableModel.hpp"
#include "app/ui/testing/Screenshots.hpp"

#include <QPushButton>
#include <QTreeView>

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace marrowdale {
namespace {

using Names = std::vector<std::string>;

CleanableNodePtr file(const std::string& name, std::int64_t size) {
    velmor::Stat stat;
    stat.st_mode = S_IFREG | 0644;
    stat.st_size = size;
    return CleanableNode::item({velmor::URL::fileURL("/nowhere/" + name), stat, true});
}

Names shownNames(const FileSelector& selector) {
    Names names;
    const auto& model = selector.model();
    for (int row = 0; row < model.rowCount(); ++row) {
        names.push_back(model.node(model.index(row, 0))->displayName());
    }
    return names;
}

TEST(LegacyOutlineView, SortButtonsFollowTheHeaderRule) {
    FileSelector selector({file("b", 2000), file("Zed", 1000), file("apple", 3000)}, nullptr,
                          SelectionBinding{}, FileSelector::Presentation::outline);
    selector.resize(720, 200);
    auto& outline = *selector.outline();
    EXPECT_TRUE(outline.view().isHeaderHidden());
    EXPECT_EQ(outline.view().contextMenuPolicy(), Qt::DefaultContextMenu) << "the outline offers no reveal";

    struct Step {
        const char* what;
        FileTableColumn clicked; // name stands for "no click" in the first step
        bool click;
        Names order;
        QString name, size, lastOpened;
    };
    const Step steps[] = {
        {"first shown: largest first", FileTableColumn::name, false, {"apple", "b", "Zed"}, "", "down", ""},
        {"size again: largest last", FileTableColumn::size, true, {"Zed", "b", "apple"}, "", "up", ""},
        {"size once more", FileTableColumn::size, true, {"apple", "b", "Zed"}, "", "down", ""},
        {"name: ascending", FileTableColumn::name, true, {"Zed", "apple", "b"}, "up", "", ""},
        {"size after name: ascending", FileTableColumn::size, true, {"Zed", "b", "apple"}, "", "up", ""},
    };
    for (const auto& step : steps) {
        if (step.click) {
            outline.headerButton(step.clicked).click();
        }
        EXPECT_EQ(shownNames(selector), step.order) << step.what;
        EXPECT_EQ(outline.sortDirectionShown(FileTableColumn::name), step.name) << step.what;
        EXPECT_EQ(outline.sortDirectionShown(FileTableColumn::size), step.size) << step.what;
        EXPECT_EQ(outline.sortDirectionShown(FileTableColumn::lastOpened), step.lastOpened) << step.what;
    }
    selector.show();
    // The size and date cells stand under their buttons.
    for (auto column : {FileTableColumn::size, FileTableColumn::lastOpened}) {
        const int cell = outline.view().columnViewportPosition(static_cast<int>(column)) +
                         outline.view().viewport()->mapTo(&outline, QPoint()).x();
        EXPECT_NEAR(outline.headerButton(column).x(), cell, 2) << static_cast<int>(column);
        EXPECT_EQ(outline.view().columnWidth(static_cast<int>(column)), LegacyOutlineView::fixedColumnWidth);
    }
    testing::saveScreenshot(selector, QStringLiteral("file-outline"));
}

} // namespace
} // namespace marrowdale
