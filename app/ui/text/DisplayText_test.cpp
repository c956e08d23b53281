#include "app/ui/text/DisplayText.hpp"

#include "app/ui/testing/Screenshots.hpp"

#include <QLabel>
#include <QTextDocument>

#include <gtest/gtest.h>

namespace marrowdale {
namespace {

const QString replacement(QChar::ReplacementCharacter);

// Keeps a leading U+FEFF, which QString::fromUtf16 would take for a byte order mark.
QString u16(const char16_t* text) {
    return QStringView(text).toString();
}

TEST(DisplayText, IllFormedBytesAndControlCharactersBecomeReplacementCharacters) {
    struct Case {
        std::string bytes;
        QString shown;
    };
    const Case cases[] = {
        {"résumé 2024.pdf", QString::fromUtf8("résumé 2024.pdf")},
        {"", ""},
        {"a\xff"
         "b",
         "a" + replacement + "b"},
        {"line\nbreak\ttab\r", "line" + replacement + "break" + replacement + "tab" + replacement},
        {"\x1b[31mred", replacement + "[31mred"},
        {"del\x7f", "del" + replacement},
        {"next\xc2\x85line", "next" + replacement + "line"}, // U+0085, a control character of its own
        {"\xe2\x82", replacement},                           // a cut-off sequence
        {"%@ %1 <b>", "%@ %1 <b>"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(displayText(c.bytes), c.shown) << c.bytes;
    }
}

TEST(DisplayText, DirectionMarksAreShownAsReplacementCharactersSoANameReadsAsItIsStored) {
    const std::string overrideName = "\xe2\x80\xae" "RTL-override-txt.exe"; // U+202E
    EXPECT_EQ(displayText(overrideName), replacement + "RTL-override-txt.exe");
    // Each embedding, override, isolate and direction mark; the characters just past them stay.
    const char16_t marks[] = {0x202A, 0x202B, 0x202C, 0x202D, 0x202E, 0x2066,
                              0x2067, 0x2068, 0x2069, 0x200E, 0x200F, 0x061C};
    for (char16_t mark : marks) {
        const std::string bytes = "a" + QString(QChar(mark)).toStdString() + "b";
        EXPECT_EQ(displayText(bytes), "a" + replacement + "b") << std::hex << int(mark);
    }
    // Their visible neighbours are left alone.
    for (char16_t kept : {u'\u202F', u'\u2010', u'\u2011', u'\u2030'}) {
        const QString text = "a" + QString(QChar(kept)) + "b";
        EXPECT_EQ(displayText(text.toStdString()), text) << std::hex << int(kept);
    }
    QLabel label;
    setDisplayText(label, overrideName);
    testing::saveScreenshot(label, "display-text-direction-override");
}

TEST(DisplayText, FormatCharactersAndSeparatorsAreShownSoNoNameHidesPartOfItselfOrLooksLikeAnother) {
    struct Case {
        QString name;
        QString shown;
    };
    const Case cases[] = {
        // A mark of direction that reorders digits: read as "clip222-111.mkv" if applied.
        {u16(u"clip\u061C111-222.mkv"), "clip" + replacement + "111-222.mkv"},
        // The line and paragraph separators break the line they are drawn on.
        {u16(u"line\u2028rest.txt"), "line" + replacement + "rest.txt"},
        {u16(u"para\u2029rest.txt"), "para" + replacement + "rest.txt"},
        // Zero-width and invisible characters: each of these would look like "report.pdf".
        {u16(u"re\u200Bport.pdf"), "re" + replacement + "port.pdf"},
        {u16(u"\uFEFFreport.pdf"), replacement + "report.pdf"},
        {u16(u"rep\u00ADort.pdf"), "rep" + replacement + "ort.pdf"},
        {u16(u"re\u200Cport.pdf"), "re" + replacement + "port.pdf"},
        {u16(u"re\u200Dport.pdf"), "re" + replacement + "port.pdf"},
        {u16(u"re\u2060port.pdf"), "re" + replacement + "port.pdf"},
        {u16(u"re\u180Eport.pdf"), "re" + replacement + "port.pdf"},
        {u16(u"re\uFFF9port.pdf"), "re" + replacement + "port.pdf"},
        // A format character beyond the first plane (a tag) becomes one replacement, not two.
        {u16(u"report\U000E0041.pdf"), "report" + replacement + ".pdf"},
        // Visible characters, beyond the first plane too, and spaces that show as spaces stay.
        {u16(u"holiday \U0001F600.png"), u16(u"holiday \U0001F600.png")},
        {u16(u"a\u00A0b \u3000c.txt"), u16(u"a\u00A0b \u3000c.txt")},
        {u16(u"\u05E9\u05DC\u05D5\u05DD.txt"), u16(u"\u05E9\u05DC\u05D5\u05DD.txt")},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(displayText(c.name.toStdString()), c.shown) << c.name.toStdString();
    }
    QLabel label;
    setDisplayText(label, u16(u"clip\u061C111-222\u2028.mkv").toStdString());
    testing::saveScreenshot(label, "display-text-format-characters");
}

TEST(DisplayText, NamesThatLookLikeMarkupAreShownAsTheyStand) {
    const std::string name = "<b>a</b>.txt";
    QLabel label;
    label.setText("<i>earlier</i>");
    setDisplayText(label, name);
    EXPECT_EQ(label.textFormat(), Qt::PlainText);
    EXPECT_EQ(label.text(), QString::fromStdString(name));
    testing::saveScreenshot(label, "display-text-markup-name");

    QTextDocument tooltip;
    tooltip.setHtml(toolTipText(name + "  & more"));
    EXPECT_EQ(tooltip.toPlainText(), QString::fromStdString(name + "  & more"));
    tooltip.setHtml(toolTipText("a\xff"));
    EXPECT_EQ(tooltip.toPlainText(), "a" + replacement);
}

} // namespace
} // namespace marrowdale
