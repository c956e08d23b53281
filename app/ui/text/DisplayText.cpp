#include "app/ui/text/DisplayText.hpp"

#include "platform/text/UTF8.hpp"

#include <QLabel>

#include <string>

namespace marrowdale {

QString displayText(std::string_view bytes) {
    std::string decoded;
    velmor::decodeUTF8Lossily(bytes, decoded);
    QString text = QString::fromStdString(decoded);
    for (QChar& character : text) {
        if (character.category() == QChar::Other_Control) {
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
