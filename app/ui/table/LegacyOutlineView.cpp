#include "app/ui/table/LegacyOutlineView.hpp"

#include "app/ui/table/FileCells.hpp"
#include "app/ui/table/FileTableModel.hpp"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QTreeView>
#include <QVBoxLayout>

namespace marrowdale {

LegacyOutlineView::LegacyOutlineView(FileTableModel& model,
                                     std::function<void(const FileRowComparator&)> applyHeaderSort,
                                     QWidget* parent)
    : QWidget(parent), view_(new QTreeView(this)) {
    auto* header = new QHBoxLayout;
    header->setContentsMargins(view_->frameWidth(), 0, view_->frameWidth(), 0);
    header->setSpacing(0);
    QFont bold = font();
    bold.setPointSize(13);
    bold.setBold(true);
    for (int section = 0; section < fileTableColumnCount; ++section) {
        const auto column = static_cast<FileTableColumn>(section);
        auto* button = new QPushButton(this);
        button->setFlat(true);
        button->setFocusPolicy(Qt::NoFocus);
        // Title, then the direction mark, from the leading edge.
        auto* label = new QHBoxLayout(button);
        label->setContentsMargins(4, 2, 4, 2);
        auto* title = new QLabel(columnTitle(column), button);
        title->setTextFormat(Qt::PlainText);
        title->setFont(bold);
        auto* mark = new QLabel(button);
        label->addWidget(title);
        label->addWidget(mark);
        label->addStretch();
        button->setMinimumHeight(title->sizeHint().height() + 6);
        marks_[static_cast<std::size_t>(section)] = mark;
        if (column == FileTableColumn::name) {
            button->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
        } else {
            button->setFixedWidth(fixedColumnWidth);
        }
        connect(button, &QPushButton::clicked, this,
                [applyHeaderSort, column] { applyHeaderSort(columnComparator(column)); });
        header->addWidget(button);
        buttons_[static_cast<std::size_t>(section)] = button;
    }

    view_->setModel(&model);
    view_->setHeaderHidden(true);
    view_->header()->setStretchLastSection(false);
    view_->header()->setSectionResizeMode(static_cast<int>(FileTableColumn::name), QHeaderView::Stretch);
    for (auto column : {FileTableColumn::size, FileTableColumn::lastOpened}) {
        view_->header()->setSectionResizeMode(static_cast<int>(column), QHeaderView::Fixed);
        view_->header()->resizeSection(static_cast<int>(column), fixedColumnWidth);
    }
    view_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn); // keeps the columns under their buttons

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addLayout(header);
    layout->addWidget(view_);
    header->addSpacing(view_->style()->pixelMetric(QStyle::PM_ScrollBarExtent));
}

void LegacyOutlineView::showSortOrder(const FileRowSortOrder& sortOrder) {
    const auto first = sortOrder.empty() ? std::nullopt : columnOf(sortOrder.front());
    for (int section = 0; section < fileTableColumnCount; ++section) {
        auto* mark = marks_[static_cast<std::size_t>(section)];
        if (first && static_cast<int>(*first) == section) {
            const bool ascending = sortOrder.front().order() == SortOrder::forward;
            mark->setPixmap(
                style()->standardIcon(ascending ? QStyle::SP_ArrowUp : QStyle::SP_ArrowDown).pixmap(12, 12));
            mark->setProperty("sortDirection", ascending ? QStringLiteral("up") : QStringLiteral("down"));
        } else {
            mark->clear();
            mark->setProperty("sortDirection", QString());
        }
    }
}

QString LegacyOutlineView::sortDirectionShown(FileTableColumn column) const {
    return marks_[static_cast<std::size_t>(column)]->property("sortDirection").toString();
}

} // namespace marrowdale
