#include "app/ui/text/DisplayText.hpp"

#include "app/ui/testing/Screenshots.hpp"

#include <QLabel>
#include <QTextDocument>

#include <gtest/gtest.h>

namespace marrowdale {
namespace {

const QString replacement(QChar::ReplacementCharacter);

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
                              0x2067, 0x2068, 0x2069, 0x200E, 0x200F};
    for (char16_t mark : marks) {
        const std::string bytes = "a" + QString(QChar(mark)).toStdString() + "b";
        EXPECT_EQ(displayText(bytes), "a" + replacement + "b") << std::hex << int(mark);
    }
    // Their neighbours, and the joiner that emoji need, are left alone.
    for (char16_t kept : {u'\u202F', u'\u2065', u'\u206A', u'\u200D', u'\u2010'}) {
        const QString text = "a" + QString(QChar(kept)) + "b";
        EXPECT_EQ(displayText(text.toStdString()), text) << std::hex << int(kept);
    }
    QLabel label;
    setDisplayText(label, overrideName);
    testing::saveScreenshot(label, "display-text-direction-override");
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
