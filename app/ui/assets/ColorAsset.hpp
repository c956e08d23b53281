#pragma once

#include <QColor>

namespace marrowdale {

// A colour of the asset catalogue, by name; the program always uses its dark value.
struct ColorAsset {
    const char* name;

    // Transparent, with one logged error, when the catalogue has no colour of that name.
    QColor color() const;
};

} // namespace marrowdale
