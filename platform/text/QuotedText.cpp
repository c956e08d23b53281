#include "platform/text/QuotedText.hpp"

#include <cstdio>

namespace velmor {

std::string quotedDescription(std::string_view text) {
    std::string quoted = "\"";
    quoted.reserve(text.size() + 2);
    for (char c : text) {
        switch (c) {
        case '"':
            quoted += "\\\"";
            break;
        case '\\':
            quoted += "\\\\";
            break;
        case '\0':
            quoted += "\\0";
            break;
        case '\t':
            quoted += "\\t";
            break;
        case '\n':
            quoted += "\\n";
            break;
        case '\r':
            quoted += "\\r";
            break;
        default:
            if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
                char escape[16];
                std::snprintf(escape, sizeof escape, "\\u{%x}", static_cast<unsigned>(c));
                quoted += escape;
            } else {
                quoted += c;
            }
        }
    }
    quoted += '"';
    return quoted;
}

} // namespace velmor
