#pragma once

#include <QString>

#include <string_view>

class QLabel;

namespace marrowdale {

// How text from outside the program (file names, paths, error messages) is shown. The bytes stay
// as they are wherever they serve as ids or paths; only what is drawn changes: ill-formed UTF-8,
// control and format characters (the marks of text direction, zero-width characters) and the line
// and paragraph separators each become U+FFFD, so a name can neither break a line, nor hide part of
// itself, nor read backwards, nor look the same as another.
QString displayText(std::string_view bytes);

// The same text as a tooltip: Qt would read a name like "<b>a</b>.txt" as markup, so it is escaped.
QString toolTipText(std::string_view bytes);

// Shows `bytes` in `label` as plain text, never as markup.
void setDisplayText(QLabel& label, std::string_view bytes);

} // namespace marrowdale
