#include "platform/text/UnicodeWhitespace.hpp"

#include <cstddef>

namespace velmor {

namespace {

// Lengths of the newline or blank starting at `at`, 0 when there is none. In UTF-8 a lead byte
// never occurs inside another character, so a match at any offset is a whole character.
std::size_t newlineLength(std::string_view text, std::size_t at) {
    auto rest = text.substr(at);
    if (!rest.empty() && rest[0] >= '\n' && rest[0] <= '\r') {
        return 1;
    }
    if (rest.starts_with("\xC2\x85")) {
        return 2;
    }
    if (rest.starts_with("\xE2\x80\xA8") || rest.starts_with("\xE2\x80\xA9")) {
        return 3;
    }
    return 0;
}

constexpr std::string_view multibyteBlanks[] = {
    "\xC2\xA0",                                                     // U+00A0
    "\xE1\x9A\x80",                                                 // U+1680
    "\xE2\x80\x80", "\xE2\x80\x81", "\xE2\x80\x82", "\xE2\x80\x83", // U+2000 ...
    "\xE2\x80\x84", "\xE2\x80\x85", "\xE2\x80\x86", "\xE2\x80\x87", //
    "\xE2\x80\x88", "\xE2\x80\x89", "\xE2\x80\x8A",                 // ... U+200A
    "\xE2\x80\xAF",                                                 // U+202F
    "\xE2\x81\x9F",                                                 // U+205F
    "\xE3\x80\x80",                                                 // U+3000
};

// Length of the blank that `text` starts with, or ends with when `atEnd`; 0 when there is none.
std::size_t blankLength(std::string_view text, bool atEnd) {
    if (text.empty()) {
        return 0;
    }
    const char edge = atEnd ? text.back() : text.front();
    if (edge == ' ' || edge == '\t') {
        return 1;
    }
    for (auto blank : multibyteBlanks) {
        if (atEnd ? text.ends_with(blank) : text.starts_with(blank)) {
            return blank.size();
        }
    }
    return 0;
}

} // namespace

std::vector<std::string_view> splitLines(std::string_view text) {
    std::vector<std::string_view> lines;
    std::size_t start = 0;
    for (std::size_t at = 0; at < text.size();) {
        if (std::size_t length = newlineLength(text, at); length > 0) {
            lines.push_back(text.substr(start, at - start));
            at += length;
            start = at;
        } else {
            ++at;
        }
    }
    lines.push_back(text.substr(start));
    return lines;
}

std::string_view trimmingBlanks(std::string_view text) {
    while (std::size_t length = blankLength(text, false)) {
        text.remove_prefix(length);
    }
    while (std::size_t length = blankLength(text, true)) {
        text.remove_suffix(length);
    }
    return text;
}

} // namespace velmor
