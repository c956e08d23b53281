#pragma once

#include <QImage>
#include <QSize>

namespace marrowdale {

// A drawing of the asset catalogue, by name, drawn at its natural size.
struct ImageAsset {
    const char* name;

    // The size the drawing was made for; empty when the catalogue has no image of that name.
    QSize naturalSize() const;
    // The drawing at its natural size for a screen of `devicePixelRatio`; an empty image, with one
    // logged error, when the catalogue has no image of that name.
    QImage image(qreal devicePixelRatio = 1.0) const;
};

} // namespace marrowdale
