#pragma once

#include <QImage>
#include <QString>

class QWidget;

namespace marrowdale::testing {

// The folder of the build where interface tests leave a picture of each state they drew.
QString screenshotsFolder();

// Lays `widget` out at its preferred size (unless it is already shown) and saves what it draws as
// `<name>.png` in the screenshots folder. Returns the file's path; fails the running test when the
// picture cannot be written.
QString saveScreenshot(QWidget& widget, const QString& name);

// What `widget` draws at its current size on a transparent ground, its children included: for
// checking what lies where, pixel by pixel.
QImage drawnOnTransparent(QWidget& widget);

} // namespace marrowdale::testing
