#include "sdk/finder/records/PathText.hpp"

#include "platform/fs/URL.hpp"
#include "platform/text/UTF8.hpp"

namespace sweepkit {

std::string pathText(const std::string& path) {
    if (path.empty() || path.front() != '/' || velmor::isValidUTF8(path)) {
        return path;
    }
    return velmor::URL::fileURL(path).absoluteString();
}

std::string pathFromText(std::string_view text) {
    if (!text.starts_with("file://")) {
        return std::string(text);
    }
    const velmor::URL url = velmor::URL::fromAbsoluteString(text);
    return url.isEmpty() ? std::string(text) : url.rawPath();
}

} // namespace sweepkit
