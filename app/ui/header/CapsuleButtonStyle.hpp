#pragma once

#include <QProxyStyle>

namespace marrowdale {

// The look of the home screen's main action button: a wide pill in the accent colour with its label
// in the button text colour, its background slightly lighter while pressed, and the whole button at
// half strength while disabled. Other controls keep the base style.
class CapsuleButtonStyle : public QProxyStyle {
public:
    static constexpr int horizontalPadding = 40;
    static constexpr int verticalPadding = 8;
    static constexpr int minimumWidth = 180;
    // Larger than half of any usual button height, so the button draws as a capsule.
    static constexpr qreal cornerRadius = 56;
    static constexpr qreal pressedBackgroundOpacity = 0.9;
    static constexpr qreal disabledOpacity = 0.5;

    // Over the Fusion style, which the program uses everywhere.
    CapsuleButtonStyle();

    QSize sizeFromContents(ContentsType type, const QStyleOption* option, const QSize& contentsSize,
                           const QWidget* widget) const override;
    void drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                     const QWidget* widget) const override;
};

} // namespace marrowdale
