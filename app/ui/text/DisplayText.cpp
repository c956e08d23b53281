#include "app/ui/text/DisplayText.hpp"

#include "platform/text/UTF8.hpp"

#include <QLabel>
#include <QStringDecoder>

#include <string>

namespace marrowdale {

namespace {

// Characters that act on the text around them instead of being seen: controls, format characters
// (the marks that reorder text, such as U+202E, which makes "\u202Etxt.exe" read as "exe.txt",
// zero-width spaces and joiners, the soft hyphen, U+FEFF) and the line and paragraph separators.
bool actsUnseen(char32_t codePoint) {
    switch (QChar::category(codePoint)) {
    case QChar::Other_Control:
    case QChar::Other_Format:
    case QChar::Separator_Line:
    case QChar::Separator_Paragraph:
        return true;
    default:
        return false;
    }
}

} // namespace

QString displayText(std::string_view bytes) {
    std::string decoded;
    velmor::decodeUTF8Lossily(bytes, decoded);
    // Decoded keeping a leading U+FEFF, which QString::fromUtf8 would drop unseen, and walked by
    // code point, so that format characters beyond the first plane (tags, say) are seen.
    QStringDecoder toUTF16(QStringConverter::Utf8, QStringConverter::Flag::ConvertInitialBom);
    const QList<uint> codePoints = QString(toUTF16(decoded)).toUcs4();
    QString text;
    text.reserve(codePoints.size());
    for (uint codePoint : codePoints) {
        if (actsUnseen(codePoint)) {
            text.append(QChar(QChar::ReplacementCharacter));
        } else if (QChar::requiresSurrogates(codePoint)) {
            text.append(QChar(QChar::highSurrogate(codePoint)));
            text.append(QChar(QChar::lowSurrogate(codePoint)));
        } else {
            text.append(QChar(char16_t(codePoint)));
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
