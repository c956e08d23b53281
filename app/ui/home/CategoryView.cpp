#include "app/ui/home/CategoryView.hpp"

#include "app/ui/assets/Assets.hpp"
#include "app/ui/home/CategorySizes.hpp"
#include "app/ui/text/Localized.hpp"
#include "platform/format/ByteCountFormatter.hpp"

#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

namespace marrowdale {
namespace {

constexpr double nameSpacing = 4;
constexpr double nameHorizontalPadding = 8;
constexpr double nameVerticalPadding = 4;
constexpr double rowSpacing = 8;
constexpr double barHeight = 10;
constexpr double barRadius = 16;
constexpr double highlightRadius = 8;
constexpr double shadowOpacity = 0.55;
constexpr double shadowBlur = 10;
constexpr double shadowOffset = 3;
constexpr double focusRingWidth = 2;

const char* nameKey(Category category) {
    switch (category) {
    case Category::largeFiles:
        return "Category.Name-Large-Files";
    case Category::junkFiles:
        return "Category.Name-Junk-Files";
    case Category::oldFiles:
        return "Category.Name-Old-Files";
    }
    return "";
}

void fillRoundedRect(QPainter& painter, const QRectF& rect, double radius, const QColor& color) {
    QPainterPath shape;
    const double r = std::min(radius, std::min(rect.width(), rect.height()) / 2);
    shape.addRoundedRect(rect, r, r);
    painter.fillPath(shape, color);
}

// A soft shadow under the bar: layers that widen and fade out over the blur's reach.
void drawShadow(QPainter& painter, const QRectF& bar, const QColor& color) {
    constexpr int layers = 5;
    for (int layer = layers; layer >= 1; --layer) {
        const double spread = shadowBlur / 2 * layer / layers;
        QColor shade = color;
        shade.setAlphaF(static_cast<float>(color.alphaF() * shadowOpacity / layers));
        fillRoundedRect(painter, bar.translated(0, shadowOffset).adjusted(-spread, -spread, spread, spread),
                        barRadius + spread, shade);
    }
}

} // namespace

CategoryView::CategoryView(Category category, QWidget* parent)
    : QAbstractButton(parent), category_(category) {
    setCursor(Qt::PointingHandCursor);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    setContentsMargins(shadowMargins());
    setText(nameText());
}

QMargins CategoryView::shadowMargins() {
    // The widest layer spreads half the blur on every side, and the shadow lies lower by its offset;
    // one more pixel takes the smoothing of its edge.
    const int spread = static_cast<int>(std::ceil(shadowBlur / 2)) + 1;
    return {spread, 0, spread, spread + static_cast<int>(std::ceil(shadowOffset))};
}

void CategoryView::setValues(std::optional<std::int64_t> size, std::optional<std::int64_t> totalSize,
                             bool isSelected) {
    if (size == size_ && totalSize == totalSize_ && isSelected == isSelected_) {
        return;
    }
    size_ = size;
    totalSize_ = totalSize;
    isSelected_ = isSelected;
    update();
}

QString CategoryView::sizeText() const {
    return size_ ? QString::fromStdString(velmor::ByteCountFormatter::forInterface().string(*size_))
                 : QString();
}

QString CategoryView::nameText() const {
    return localized(nameKey(category_));
}

std::optional<double> CategoryView::barWidth() const {
    if (!size_ || !totalSize_) {
        return std::nullopt;
    }
    return categoryBarWidth(contentsRect().width(), *size_, *totalSize_);
}

QRectF CategoryView::nameGroupRect() const {
    const QSize image = assets::image(category_).naturalSize();
    const QFontMetricsF metrics(font());
    const double contentHeight = std::max<double>(image.height(), metrics.height());
    const double contentWidth = image.width() + nameSpacing + metrics.horizontalAdvance(nameText());
    const QRect contents = contentsRect();
    return {static_cast<double>(contents.left()), static_cast<double>(contents.top()),
            contentWidth + 2 * nameHorizontalPadding, contentHeight + 2 * nameVerticalPadding};
}

QSize CategoryView::sizeHint() const {
    const QRectF name = nameGroupRect();
    const QFontMetricsF metrics(font());
    const double sizeWidth = metrics.horizontalAdvance(QStringLiteral("999.9 MB"));
    const QMargins margins = shadowMargins();
    return {static_cast<int>(std::ceil(name.width() + rowSpacing + sizeWidth)) + margins.left() + margins.right(),
            static_cast<int>(std::ceil(name.height() + rowSpacing + barHeight)) + margins.top() + margins.bottom()};
}

QSize CategoryView::minimumSizeHint() const {
    return {0, sizeHint().height()};
}

void CategoryView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF name = nameGroupRect();

    // The bar goes first, so that it and its shadow lie beneath the label row.
    const QRectF contents = contentsRect();
    const QRectF barRow(contents.left(), name.bottom() + rowSpacing, contents.width(), barHeight);
    if (const auto w = barWidth()) {
        const QColor color = assets::color(category_).color();
        const QRectF bar(barRow.left(), barRow.top(), *w, barHeight);
        drawShadow(painter, bar, color);
        fillRoundedRect(painter, bar, barRadius, color);
    } else {
        fillRoundedRect(painter, barRow, barRadius, assets::categorySizeDisabled.color());
    }

    if (isHighlighted()) {
        fillRoundedRect(painter, name, highlightRadius, assets::categorySizeSelectionRectangle.color());
    }
    if (hasFocus()) {
        // Where the keyboard is: a ring in the accent colour around the name.
        QPainterPath ring;
        const QRectF around = name.adjusted(focusRingWidth / 2, focusRingWidth / 2, -focusRingWidth / 2,
                                            -focusRingWidth / 2);
        ring.addRoundedRect(around, highlightRadius, highlightRadius);
        painter.strokePath(ring, QPen(assets::accentColor.color(), focusRingWidth));
    }
    const QSize imageSize = assets::image(category_).naturalSize();
    const QImage image = assets::image(category_).image(devicePixelRatioF());
    const QRectF content = name.adjusted(nameHorizontalPadding, nameVerticalPadding, -nameHorizontalPadding,
                                         -nameVerticalPadding);
    const QRectF imageRect(content.left(), content.center().y() - imageSize.height() / 2.0, imageSize.width(),
                           imageSize.height());
    painter.drawImage(imageRect, image);
    painter.setPen(palette().color(QPalette::WindowText));
    painter.drawText(QRectF(imageRect.right() + nameSpacing, content.top(), contents.right() - imageRect.right(),
                            content.height()),
                     Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, nameText());
    if (size_) {
        painter.drawText(QRectF(contents.left(), name.top(), contents.width(), name.height()),
                         Qt::AlignRight | Qt::AlignVCenter | Qt::TextSingleLine, sizeText());
    }
}

} // namespace marrowdale
