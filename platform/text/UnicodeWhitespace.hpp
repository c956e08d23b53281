#pragma once

#include <string_view>
#include <vector>

namespace velmor {

// The lines of UTF-8 `text`, split at every newline character: U+000A to U+000D, U+0085, U+2028
// and U+2029. A CR-LF pair therefore gives an empty line between the two.
std::vector<std::string_view> splitLines(std::string_view text);

// UTF-8 `text` without the tabs and Unicode space separators (U+0020, U+00A0, U+1680,
// U+2000 to U+200A, U+202F, U+205F, U+3000) at either end.
std::string_view trimmingBlanks(std::string_view text);

} // namespace velmor
