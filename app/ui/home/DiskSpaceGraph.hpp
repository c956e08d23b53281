#pragma once

#include <QWidget>

#include <cstdint>

namespace marrowdale {

// The widths of the graph's two parts in a graph `width` points wide.
struct DiskSpaceWidths {
    double used = 0;
    double free = 0;
};

// Whether the figures make a graph: a positive total and an available figure within it. A volume
// with no blocks, or a figure that does not fit, would make the free share infinite or negative.
bool diskFiguresUsable(std::int64_t totalCapacity, std::int64_t availableCapacity);

// The used part never gets less than `minBubbleSize`; the free part gets its share of what is left
// after `bubbleSpacing`, at least `minBubbleSize` when that fits. Neither width goes below 0; when
// the two do not fit, the free part is cut. Needs figures that `diskFiguresUsable` accepts.
DiskSpaceWidths diskSpaceWidths(double width, double bubbleSpacing, double minBubbleSize,
                                std::int64_t totalCapacity, std::int64_t availableCapacity);

// The startup volume as a two-part bar: the used space on the left, the free space on the right,
// each labelled with its size. What does not fit in the widget is clipped.
class DiskSpaceGraph : public QWidget {
public:
    DiskSpaceGraph(std::int64_t totalCapacity, std::int64_t availableCapacity, double bubbleSpacing,
                   double minBubbleSize, QWidget* parent = nullptr);

    void setCapacities(std::int64_t totalCapacity, std::int64_t availableCapacity);

    std::int64_t usedSize() const { return totalCapacity_ - availableCapacity_; }
    QString usedText() const;
    QString freeText() const;
    DiskSpaceWidths widths() const;

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::int64_t totalCapacity_;
    std::int64_t availableCapacity_;
    double bubbleSpacing_;
    double minBubbleSize_;
};

} // namespace marrowdale
