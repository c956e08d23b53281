#include "app/ui/home/DiskSpaceGraph.hpp"

#include "app/ui/assets/Assets.hpp"
#include "app/ui/text/Localized.hpp"
#include "platform/format/ByteCountFormatter.hpp"

#include <QPainter>
#include <QPainterPath>

#include <algorithm>

namespace marrowdale {
namespace {

// The room between the two parts, whatever the spacing the widths are computed with.
constexpr double partSpacing = 8;
constexpr double partRadius = 12;
constexpr double textPadding = 10;

} // namespace

bool diskFiguresUsable(std::int64_t totalCapacity, std::int64_t availableCapacity) {
    return totalCapacity > 0 && availableCapacity >= 0 && availableCapacity <= totalCapacity;
}

DiskSpaceWidths diskSpaceWidths(double width, double bubbleSpacing, double minBubbleSize,
                                std::int64_t totalCapacity, std::int64_t availableCapacity) {
    const double room = width - bubbleSpacing;
    const double share = static_cast<double>(availableCapacity) / static_cast<double>(totalCapacity) * room;
    const double freeFirst = share > minBubbleSize ? share : minBubbleSize;
    const double used = room - freeFirst > minBubbleSize ? room - freeFirst : minBubbleSize;
    return {std::max(0.0, used), std::max(0.0, room - used)};
}

DiskSpaceGraph::DiskSpaceGraph(std::int64_t totalCapacity, std::int64_t availableCapacity,
                               double bubbleSpacing, double minBubbleSize, QWidget* parent)
    : QWidget(parent), totalCapacity_(totalCapacity), availableCapacity_(availableCapacity),
      bubbleSpacing_(bubbleSpacing), minBubbleSize_(minBubbleSize) {
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
}

void DiskSpaceGraph::setCapacities(std::int64_t totalCapacity, std::int64_t availableCapacity) {
    totalCapacity_ = totalCapacity;
    availableCapacity_ = availableCapacity;
    update();
}

QString DiskSpaceGraph::usedText() const {
    return localized("Home.Footer.UsedSpace-Label: %@",
                     velmor::ByteCountFormatter::forInterface().string(usedSize()));
}

QString DiskSpaceGraph::freeText() const {
    return localized("Home.Footer.FreeSpace-Label: %@",
                     velmor::ByteCountFormatter::forInterface().string(availableCapacity_));
}

DiskSpaceWidths DiskSpaceGraph::widths() const {
    return diskSpaceWidths(width(), bubbleSpacing_, minBubbleSize_, totalCapacity_, availableCapacity_);
}

QSize DiskSpaceGraph::sizeHint() const {
    return {static_cast<int>(2 * minBubbleSize_ + bubbleSpacing_), 46};
}

void DiskSpaceGraph::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const DiskSpaceWidths parts = widths();
    const auto drawPart = [&](double x, double w, const ColorAsset& fill, const ColorAsset& ink,
                              const QString& text) {
        if (w <= 0) {
            return;
        }
        const QRectF part(x, 0, w, height());
        QPainterPath shape;
        shape.addRoundedRect(part, partRadius, partRadius);
        painter.fillPath(shape, fill.color());
        painter.save();
        painter.setClipRect(part);
        painter.setPen(ink.color());
        painter.drawText(part.adjusted(textPadding, 0, 0, 0),
                         Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, text);
        painter.restore();
    };
    drawPart(0, parts.used, assets::diskSegmentedViewUsed, assets::diskSegmentedViewUsedText, usedText());
    // The widths leave the smaller bubble spacing between the parts: the free part gives up the
    // difference at its end, so that it ends, rounded, at the widget's edge instead of past it.
    const double freeStart = parts.used + partSpacing;
    drawPart(freeStart, std::min(parts.free, width() - freeStart), assets::diskSegmentedViewFree,
             assets::diskSegmentedViewFreeText, freeText());
}

} // namespace marrowdale
