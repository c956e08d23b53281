#include "app/ui/text/DisplayText.hpp"

#include "platform/text/UTF8.hpp"

#include <QLabel>

#include <string>

namespace marrowdale {

namespace {

// The marks that reorder or redirect the text around them without being seen: embeddings and
// overrides, isolates, and the two direction marks. Shown as they are, "\u202Etxt.exe" reads as
// "exe.txt".
bool isDirectionControl(char16_t character) {
    return (character >= 0x202A && character <= 0x202E) || (character >= 0x2066 && character <= 0x2069) ||
           character == 0x200E || character == 0x200F;
}

} // namespace

QString displayText(std::string_view bytes) {
    std::string decoded;
    velmor::decodeUTF8Lossily(bytes, decoded);
    QString text = QString::fromStdString(decoded);
    for (QChar& character : text) {
        if (character.category() == QChar::Other_Control || isDirectionControl(character.unicode())) {
            character = QChar::ReplacementCharacter;
        }
    }
    return text;
}

QString toolTipText(std::string_view bytes) {
    // Wrapped in a paragraph so that Qt always reads it as markup and shows the escapes as characters.
    return QStringLiteral("<p style=\"white-space:pre-wrap\">") + displayText(bytes).toHtmlEscaped() +
           QStringLiteral("</p>");
}

void setDisplayText(QLabel& label, std::string_view bytes) {
    label.setTextFormat(Qt::PlainText);
    label.setText(displayText(bytes));
}

} // namespace marrowdale
