#include "app/ui/look/DarkLook.hpp"

#include <QApplication>
#include <QStyle>
#include <QStyleFactory>

namespace marrowdale {

QPalette darkPalette() {
    const QColor window(0x1c, 0x1d, 0x22);
    const QColor base(0x25, 0x27, 0x2d);
    const QColor raised(0x3a, 0x3d, 0x45);
    const QColor accent(0x3d, 0x8b, 0xfd);
    const QColor onAccent(Qt::white);
    const QColor text(0xe6, 0xe7, 0xea);

    QPalette palette;
    palette.setColor(QPalette::Window, window);
    palette.setColor(QPalette::WindowText, text);
    palette.setColor(QPalette::Base, base);
    palette.setColor(QPalette::AlternateBase, window);
    palette.setColor(QPalette::ToolTipBase, raised);
    palette.setColor(QPalette::ToolTipText, text);
    palette.setColor(QPalette::PlaceholderText, text.darker(160));
    palette.setColor(QPalette::Text, text);
    palette.setColor(QPalette::Button, raised);
    palette.setColor(QPalette::ButtonText, text);
    palette.setColor(QPalette::BrightText, onAccent);
    palette.setColor(QPalette::Light, raised.lighter(130));
    palette.setColor(QPalette::Midlight, raised.lighter(115));
    palette.setColor(QPalette::Mid, raised.darker(120));
    palette.setColor(QPalette::Dark, window.darker(130));
    palette.setColor(QPalette::Shadow, Qt::black);
    palette.setColor(QPalette::Highlight, accent);
    palette.setColor(QPalette::HighlightedText, onAccent);
    palette.setColor(QPalette::Link, accent.lighter(120));
    // Disabled text is dimmed rather than drawn in the desktop's grey.
    for (auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText}) {
        palette.setColor(QPalette::Disabled, role, text.darker(180));
    }
    return palette;
}

void applyDarkLook(QApplication& application) {
    application.setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    application.setPalette(darkPalette());
}

} // namespace marrowdale
