#include "app/ui/testing/Screenshots.hpp"

#include <QDir>
#include <QPixmap>
#include <QWidget>

#include <gtest/gtest.h>

namespace marrowdale::testing {

QString screenshotsFolder() {
    return QStringLiteral(MARROWDALE_SCREENSHOTS_DIR);
}

QString saveScreenshot(QWidget& widget, const QString& name) {
    if (!widget.isVisible()) {
        widget.ensurePolished();
        widget.adjustSize();
    }
    const QString folder = screenshotsFolder();
    QDir().mkpath(folder);
    const QString path = folder + "/" + name + ".png";
    const QPixmap picture = widget.grab();
    EXPECT_FALSE(picture.isNull()) << "nothing drawn for " << name.toStdString();
    EXPECT_TRUE(picture.save(path, "PNG")) << "could not write " << path.toStdString();
    return path;
}

QImage drawnOnTransparent(QWidget& widget) {
    QImage image(widget.size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    widget.render(&image, {}, {}, QWidget::DrawChildren);
    return image;
}

} // namespace marrowdale::testing
