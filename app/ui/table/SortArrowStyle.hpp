#pragma once

#include <QProxyStyle>

namespace marrowdale {

// The style of the file table's header: the application's, but with the sort arrow pointing the
// way the rows run, down for largest (or last) first and up for smallest first, as the outline's
// sort buttons show it. Qt's own header draws the opposite.
class SortArrowStyle : public QProxyStyle {
public:
    void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                       const QWidget* widget = nullptr) const override;
};

} // namespace marrowdale
