#pragma once

#include <QIcon>
#include <QStyledItemDelegate>

namespace marrowdale {

// Draws the name cell as usual, then, on a row whose deletion failed, the warning badge right after
// the name.
class NameCellDelegate : public QStyledItemDelegate {
public:
    explicit NameCellDelegate(QObject* parent = nullptr);

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

    static constexpr int iconSize = 16;

private:
    QIcon badge_;
};

} // namespace marrowdale
