#pragma once

#include "app/model/categories/Category.hpp"

#include <QAbstractButton>

#include <cstdint>
#include <optional>

namespace marrowdale {

// One category's tile: its picture and name, the size its scan found, and a bar showing that size
// as a share of all categories together. A flat button; clicking it shows the category.
class CategoryView : public QAbstractButton {
public:
    explicit CategoryView(Category category, QWidget* parent = nullptr);

    Category category() const { return category_; }
    // `size` and `totalSize` are absent before results exist.
    void setValues(std::optional<std::int64_t> size, std::optional<std::int64_t> totalSize, bool isSelected);

    // The size as shown; empty before results exist.
    QString sizeText() const;
    QString nameText() const;
    bool isHighlighted() const { return isSelected_ && totalSize_.has_value(); }
    // The coloured bar's width, or none while the bar is drawn disabled across the whole tile.
    std::optional<double> barWidth() const;
    // The room the tile leaves around its contents for the bar's shadow, which would be cut off at
    // the tile's edges otherwise.
    static QMargins shadowMargins();

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QRectF nameGroupRect() const;

    Category category_;
    std::optional<std::int64_t> size_;
    std::optional<std::int64_t> totalSize_;
    bool isSelected_ = false;
};

} // namespace marrowdale
