#pragma once

#include <QProxyStyle>

namespace marrowdale {

// The main box's panel: a rounded, filled and outlined rectangle with the content 10 points inside
// it. The group box's title and the platform's own frame are not drawn.
class FileSelectorGroupBoxStyle : public QProxyStyle {
public:
    static constexpr int padding = 10;
    static constexpr double radius = 12;

    void drawComplexControl(ComplexControl control, const QStyleOptionComplex* option, QPainter* painter,
                            const QWidget* widget = nullptr) const override;
    QRect subControlRect(ComplexControl control, const QStyleOptionComplex* option, SubControl subControl,
                         const QWidget* widget = nullptr) const override;
};

} // namespace marrowdale
