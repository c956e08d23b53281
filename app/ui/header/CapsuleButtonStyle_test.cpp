#include "app/ui/header/CapsuleButtonStyle.hpp"

#include "app/ui/assets/Assets.hpp"
#include "app/ui/testing/Screenshots.hpp"

#include <QFontMetrics>
#include <QPushButton>

#include <gtest/gtest.h>

namespace marrowdale {
namespace {

QColor pixel(QPushButton& button, const QString& picture, QPoint where) {
    testing::saveScreenshot(button, picture);
    return button.grab().toImage().pixelColor(where);
}

// `color` at `opacity` over `under`, as drawn.
QColor over(const QColor& color, qreal opacity, const QColor& under) {
    auto mix = [&](int top, int bottom) { return qRound(top * opacity + bottom * (1 - opacity)); };
    return QColor(mix(color.red(), under.red()), mix(color.green(), under.green()),
                  mix(color.blue(), under.blue()));
}

void expectNear(const QColor& actual, const QColor& expected, const char* what) {
    EXPECT_NEAR(actual.red(), expected.red(), 2) << what;
    EXPECT_NEAR(actual.green(), expected.green(), 2) << what;
    EXPECT_NEAR(actual.blue(), expected.blue(), 2) << what;
}

TEST(CapsuleButtonStyle, APaddedLabelAtLeastTheMinimumWide) {
    CapsuleButtonStyle style;
    QPushButton shortLabel(QStringLiteral("Go"));
    shortLabel.setStyle(&style);
    const QFontMetrics metrics(shortLabel.font());
    EXPECT_EQ(shortLabel.sizeHint().width(), CapsuleButtonStyle::minimumWidth);
    EXPECT_EQ(shortLabel.sizeHint().height(), metrics.size(Qt::TextShowMnemonic, shortLabel.text()).height() +
                                                  2 * CapsuleButtonStyle::verticalPadding);

    const QString longText = QStringLiteral("A label well over one hundred points wide");
    QPushButton longLabel(longText);
    longLabel.setStyle(&style);
    const int textWidth = metrics.size(Qt::TextShowMnemonic, longText).width();
    ASSERT_GT(textWidth, 100);
    EXPECT_EQ(longLabel.sizeHint().width(), textWidth + 2 * CapsuleButtonStyle::horizontalPadding);
}

TEST(CapsuleButtonStyle, PressingDimsTheBackgroundAndDisablingTheWholeButton) {
    CapsuleButtonStyle style;
    QPushButton button(QStringLiteral("Clean"));
    button.setStyle(&style);
    button.resize(button.sizeHint());
    // Inside the pill, left of the label: background only.
    const QPoint background(CapsuleButtonStyle::horizontalPadding / 2, button.height() / 2);
    // A corner lies outside the capsule: its radius is half the height, not the full 56.
    const QPoint corner(1, 1);

    // The picture of a lone button has the window's colour under it.
    const QColor window = button.palette().color(QPalette::Window);
    const QColor accent = assets::accentColor.color();
    expectNear(pixel(button, "capsule-button-enabled", background), accent, "enabled");
    expectNear(button.grab().toImage().pixelColor(corner), window, "corner");

    button.setDown(true);
    expectNear(pixel(button, "capsule-button-pressed", background),
               over(accent, CapsuleButtonStyle::pressedBackgroundOpacity, window), "pressed");
    button.setDown(false);

    button.setEnabled(false);
    expectNear(pixel(button, "capsule-button-disabled", background),
               over(accent, CapsuleButtonStyle::disabledOpacity, window), "disabled");
}

} // namespace
} // namespace marrowdale
