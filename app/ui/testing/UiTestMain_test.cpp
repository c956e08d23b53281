#include "app/ui/testing/Screenshots.hpp"

#include <QApplication>
#include <QFileInfo>
#include <QFontInfo>
#include <QLabel>

#include <gtest/gtest.h>

namespace marrowdale::testing {
namespace {

TEST(UiTestMain, DrawsOffscreenInAFixedFontAndSavesPictures) {
    EXPECT_EQ(QApplication::platformName(), "offscreen");
    EXPECT_EQ(QFontInfo(QApplication::font()).family(), "DejaVu Sans");

    QLabel label(QStringLiteral("Marrowdale"));
    const QString path = saveScreenshot(label, QStringLiteral("ui-test-main"));
    const QFileInfo written(path);
    EXPECT_TRUE(written.isFile()) << path.toStdString();
    EXPECT_GT(written.size(), 0);
}

} // namespace
} // namespace marrowdale::testing
