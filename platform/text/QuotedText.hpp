#pragma once

#include <string>
#include <string_view>

namespace velmor {

// `text` in double quotes, as a debugger shows a string: quotes and backslashes escaped, and
// control characters written as escapes ("\n", "\t", "\u{1b}") so the result stays on one line.
std::string quotedDescription(std::string_view text);

} // namespace velmor
