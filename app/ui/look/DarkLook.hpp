#pragma once

#include <QPalette>

class QApplication;

namespace marrowdale {

// The program is always dark, whatever the desktop's theme: the Fusion style, which draws the same
// everywhere, with this palette.
QPalette darkPalette();

// Gives the whole application the dark look; for the program and its tests alike.
void applyDarkLook(QApplication& application);

} // namespace marrowdale
