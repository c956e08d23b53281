#include "platform/diskimage/PathText.hpp"

#include "platform/fs/URL.hpp"
#include "platform/text/UTF8.hpp"

namespace velmor {

namespace {

// Whether an XML reader gives back exactly these bytes from character data: valid UTF-8 without
// the characters XML 1.0 excludes (controls other than tab and line feed, U+FFFE, U+FFFF); a
// carriage return would come back as a line feed.
bool xmlHoldsUnchanged(std::string_view text) {
    if (!isValidUTF8(text)) {
        return false;
    }
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if ((byte < 0x20 && byte != '\t' && byte != '\n') || byte == 0x7F) {
            return false;
        }
        if (byte == 0xEF && i + 2 < text.size() && static_cast<unsigned char>(text[i + 1]) == 0xBF &&
            (static_cast<unsigned char>(text[i + 2]) & 0xFE) == 0xBE) {
            return false;
        }
    }
    return true;
}

} // namespace

std::string pathText(const std::string& path) {
    if (path.empty() || path.front() != '/' || xmlHoldsUnchanged(path)) {
        return path;
    }
    return URL::fileURL(path).absoluteString();
}

std::optional<std::string> pathFromText(std::string_view text) {
    if (!text.starts_with("file:")) {
        return std::string(text);
    }
    const URL url = URL::fromAbsoluteString(text);
    if (url.isEmpty()) {
        return std::nullopt;
    }
    return url.rawPath();
}

} // namespace velmor
