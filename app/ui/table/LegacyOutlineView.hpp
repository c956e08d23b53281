#pragma once

#include "app/ui/table/FileTableColumn.hpp"

#include <QWidget>

#include <array>
#include <functional>

class QLabel;
class QPushButton;
class QTreeView;

namespace marrowdale {

class FileTableModel;

// The file rows as an outline under a row of sort buttons, for systems whose table cannot show a
// tree. The buttons stand over their columns (Size and Last opened are 150 points wide in both)
// and mark the column that sorts first with its direction. Holds no state: the order belongs to
// the file selector, which the buttons ask to re-sort.
class LegacyOutlineView : public QWidget {
public:
    static constexpr int fixedColumnWidth = 150;

    LegacyOutlineView(FileTableModel& model, std::function<void(const FileRowComparator&)> applyHeaderSort,
                      QWidget* parent = nullptr);

    QTreeView& view() const { return *view_; }
    QPushButton& headerButton(FileTableColumn column) const {
        return *buttons_[static_cast<std::size_t>(column)];
    }
    // Shows which column sorts first and in which direction.
    void showSortOrder(const FileRowSortOrder& sortOrder);
    // "up" or "down" on the column that sorts first, empty on the others.
    QString sortDirectionShown(FileTableColumn column) const;

private:
    QTreeView* view_;
    std::array<QPushButton*, fileTableColumnCount> buttons_{};
    std::array<QLabel*, fileTableColumnCount> marks_{};
};

} // namespace marrowdale
