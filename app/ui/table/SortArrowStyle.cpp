#include "app/ui/table/SortArrowStyle.hpp"

#include <QStyleOptionHeader>

namespace marrowdale {

void SortArrowStyle::drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                                   const QWidget* widget) const {
    const auto* header = qstyleoption_cast<const QStyleOptionHeader*>(option);
    if (element != PE_IndicatorHeaderArrow || !header || header->sortIndicator == QStyleOptionHeader::None) {
        QProxyStyle::drawPrimitive(element, option, painter, widget);
        return;
    }
    QStyleOptionHeader flipped(*header);
    flipped.sortIndicator = header->sortIndicator == QStyleOptionHeader::SortUp ? QStyleOptionHeader::SortDown
                                                                                : QStyleOptionHeader::SortUp;
    QProxyStyle::drawPrimitive(element, &flipped, painter, widget);
}

} // namespace marrowdale
