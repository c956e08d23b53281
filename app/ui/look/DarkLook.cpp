#include "app/ui/look/DarkLook.hpp"

#include "app/ui/assets/Assets.hpp"

#include <QApplication>
#include <QStyle>
#include <QStyleFactory>

namespace marrowdale {

QPalette darkPalette() {
    const QColor window = assets::customWindowBackgound.color();
    const QColor base = assets::mainBoxFillColor.color();
    const QColor raised = assets::mainBoxStrokeColor.color();
    const QColor accent = assets::accentColor.color();
    const QColor onAccent = assets::capsuleButtonTextColor.color();
    // The catalogue names no text colour of its own: text is a light grey on every dark surface.
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
