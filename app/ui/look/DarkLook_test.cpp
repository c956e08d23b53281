#include "app/ui/look/DarkLook.hpp"

#include "app/ui/testing/Screenshots.hpp"

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>
#include <QWidget>

#include <gtest/gtest.h>

namespace marrowdale {
namespace {

// The test main gave the application the dark look, as the program does.
TEST(DarkLook, TheApplicationIsDarkInTheFusionStyle) {
    EXPECT_EQ(QApplication::style()->name().toLower(), "fusion");
    const QPalette palette = QApplication::palette();
    EXPECT_EQ(palette, darkPalette());
    EXPECT_LT(palette.color(QPalette::Window).lightness(), 60);
    EXPECT_LT(palette.color(QPalette::Base).lightness(), 60);
    EXPECT_GT(palette.color(QPalette::WindowText).lightness(), 180);
    EXPECT_GT(palette.color(QPalette::Text).lightness(), 180);
    EXPECT_LT(palette.color(QPalette::Disabled, QPalette::ButtonText).lightness(),
              palette.color(QPalette::Active, QPalette::ButtonText).lightness());

    QWidget sample;
    auto* layout = new QVBoxLayout(&sample);
    layout->addWidget(new QLabel(QStringLiteral("Label")));
    layout->addWidget(new QLineEdit(QStringLiteral("Text field")));
    layout->addWidget(new QCheckBox(QStringLiteral("Check box")));
    layout->addWidget(new QPushButton(QStringLiteral("Button")));
    auto* disabled = new QPushButton(QStringLiteral("Disabled button"));
    disabled->setEnabled(false);
    layout->addWidget(disabled);
    testing::saveScreenshot(sample, "dark-look");
}

} // namespace
} // namespace marrowdale
