#pragma once

#include <QString>

#include <string_view>

class QLabel;

namespace marrowdale {

// How text from outside the program (file names, paths, error messages) is shown. The bytes stay
// as they are wherever they serve as ids or paths; only what is drawn changes: ill-formed UTF-8,
// control characters and the invisible marks of text direction each become U+FFFD, so a name can
// neither break a line, nor hide itself, nor read backwards.
QString displayText(std::string_view bytes);

// The same text as a tooltip: Qt would read a name like "<b>a</b>.txt" as markup, so it is escaped.
QString toolTipText(std::string_view bytes);

// Shows `bytes` in `label` as plain text, never as markup.
void setDisplayText(QLabel& label, std::string_view bytes);

} // namespace marrowdale
