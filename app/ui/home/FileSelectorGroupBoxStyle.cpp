#include "app/ui/home/FileSelectorGroupBoxStyle.hpp"

#include "app/ui/assets/Assets.hpp"

#include <QPainter>
#include <QPainterPath>
#include <QStyleOptionComplex>

namespace marrowdale {

void FileSelectorGroupBoxStyle::drawComplexControl(ComplexControl control, const QStyleOptionComplex* option,
                                                   QPainter* painter, const QWidget* widget) const {
    if (control != CC_GroupBox) {
        QProxyStyle::drawComplexControl(control, option, painter, widget);
        return;
    }
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    // Half a point in, so the one-point line falls on whole pixels and inside the box.
    const QRectF panel = QRectF(option->rect).adjusted(0.5, 0.5, -0.5, -0.5);
    QPainterPath shape;
    shape.addRoundedRect(panel, radius, radius);
    painter->fillPath(shape, assets::mainBoxFillColor.color());
    painter->setPen(QPen(assets::mainBoxStrokeColor.color(), 1));
    painter->drawPath(shape);
    painter->restore();
}

QRect FileSelectorGroupBoxStyle::subControlRect(ComplexControl control, const QStyleOptionComplex* option,
                                                SubControl subControl, const QWidget* widget) const {
    if (control != CC_GroupBox) {
        return QProxyStyle::subControlRect(control, option, subControl, widget);
    }
    switch (subControl) {
    case SC_GroupBoxFrame:
        return option->rect;
    case SC_GroupBoxContents:
        return option->rect.adjusted(padding, padding, -padding, -padding);
    default:
        return {};
    }
}

} // namespace marrowdale
