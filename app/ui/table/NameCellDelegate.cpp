#include "app/ui/table/NameCellDelegate.hpp"

#include "app/ui/table/FileTableModel.hpp"

#include <QApplication>
#include <QPainter>
#include <QStyle>

namespace marrowdale {

namespace {

constexpr int badgeSpacing = 6;

bool hasBadge(const QModelIndex& index) {
    return index.data(FileTableModel::badgeRole).toBool();
}

} // namespace

NameCellDelegate::NameCellDelegate(QObject* parent)
    : QStyledItemDelegate(parent),
      badge_(QIcon::fromTheme(QStringLiteral("dialog-warning"),
                              QApplication::style()->standardIcon(QStyle::SP_MessageBoxWarning))) {}

void NameCellDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                             const QModelIndex& index) const {
    QStyledItemDelegate::paint(painter, option, index);
    if (!hasBadge(index)) {
        return;
    }
    QStyleOptionViewItem item = option;
    initStyleOption(&item, index);
    const QStyle* style = item.widget ? item.widget->style() : QApplication::style();
    const QRect text = style->subElementRect(QStyle::SE_ItemViewItemText, &item, item.widget);
    const int textWidth = item.fontMetrics.horizontalAdvance(item.text) + 2 * badgeSpacing;
    const int left = std::min(text.left() + textWidth, option.rect.right() - iconSize);
    const QRect badge(left, option.rect.center().y() - iconSize / 2, iconSize, iconSize);
    painter->save();
    painter->setClipRect(option.rect);
    badge_.paint(painter, badge);
    painter->restore();
}

QSize NameCellDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const {
    QSize size = QStyledItemDelegate::sizeHint(option, index);
    if (hasBadge(index)) {
        size.rwidth() += iconSize + badgeSpacing;
    }
    return size.expandedTo(QSize(0, iconSize + 4));
}

} // namespace marrowdale
