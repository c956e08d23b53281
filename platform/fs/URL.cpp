#include "platform/fs/URL.hpp"

#include <climits>
#include <unistd.h>

namespace velmor {

namespace {

std::string currentDirectory() {
    std::string buffer(PATH_MAX, '\0');
    if (::getcwd(buffer.data(), buffer.size()) == nullptr) {
        return "/";
    }
    buffer.resize(std::char_traits<char>::length(buffer.c_str()));
    return buffer;
}

bool isAllowedInPath(unsigned char c) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) {
        return true;
    }
    switch (c) {
    case '-':
    case '.':
    case '_':
    case '~':
    case '!':
    case '$':
    case '&':
    case '\'':
    case '(':
    case ')':
    case '*':
    case '+':
    case ',':
    case ';':
    case '=':
    case ':':
    case '@':
    case '/':
        return true;
    default:
        return false;
    }
}

int hexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

} // namespace

URL URL::fileURL(std::string_view path) {
    if (path.empty()) {
        return URL(currentDirectory() + "/", true);
    }
    if (path.front() == '/') {
        return URL(std::string(path));
    }
    std::string base = currentDirectory();
    if (base.back() != '/') {
        base += '/';
    }
    return URL(base + std::string(path), true);
}

void URL::setFileURL(std::string_view path) {
    if (path.empty() || path.front() != '/') {
        *this = fileURL(path);
        return;
    }
    path_.assign(path);
    relativeToWorkingDirectory_ = false;
}

std::string URL::path() const {
    if (hasDirectoryPath()) {
        return path_.substr(0, path_.size() - 1);
    }
    return path_;
}

std::string URL::lastPathComponent() const {
    // Read in place: a table of a million files names every row with this.
    std::string_view trimmed = path_;
    if (hasDirectoryPath()) {
        trimmed.remove_suffix(1);
    }
    if (trimmed == "/" || trimmed.empty()) {
        return std::string(trimmed);
    }
    auto slash = trimmed.rfind('/');
    return std::string(slash == std::string_view::npos ? trimmed : trimmed.substr(slash + 1));
}

URL URL::deletingLastPathComponent() const {
    std::string trimmed = path();
    auto slash = trimmed.rfind('/');
    if (trimmed == "/" || slash == std::string::npos) {
        return URL(std::string("/"), relativeToWorkingDirectory_);
    }
    return URL(trimmed.substr(0, slash + 1), relativeToWorkingDirectory_);
}

URL URL::appendingPathComponent(std::string_view component) const {
    std::string result = path_;
    if (result.empty() || result.back() != '/') {
        result += '/';
    }
    while (!component.empty() && component.front() == '/') {
        component.remove_prefix(1);
    }
    result.append(component);
    return URL(std::move(result), relativeToWorkingDirectory_);
}

std::string URL::absoluteString() const {
    static constexpr char digits[] = "0123456789ABCDEF";
    std::string text = "file://";
    text.reserve(text.size() + path_.size());
    for (unsigned char c : path_) {
        if (isAllowedInPath(c)) {
            text += static_cast<char>(c);
        } else {
            text += '%';
            text += digits[c >> 4];
            text += digits[c & 0xF];
        }
    }
    return text;
}

URL URL::fromAbsoluteString(std::string_view text) {
    constexpr std::string_view scheme = "file://";
    if (text.substr(0, scheme.size()) != scheme) {
        return URL();
    }
    text.remove_prefix(scheme.size());
    // An authority ("localhost") may stand before the path.
    auto slash = text.find('/');
    if (slash == std::string_view::npos) {
        return URL();
    }
    text.remove_prefix(slash);
    std::string path;
    path.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && hexValue(text[i + 1]) >= 0 &&
            hexValue(text[i + 2]) >= 0) {
            path += static_cast<char>(hexValue(text[i + 1]) * 16 + hexValue(text[i + 2]));
            i += 2;
        } else {
            path += text[i];
        }
    }
    return URL(std::move(path));
}

bool isPathWithin(std::string_view path, std::string_view ancestor) {
    if (ancestor == "/") {
        return path.starts_with('/');
    }
    return path.starts_with(ancestor) && (path.size() == ancestor.size() || path[ancestor.size()] == '/');
}

std::string describe(const std::vector<URL>& urls) {
    std::string text = "[";
    for (const auto& url : urls) {
        if (text.size() > 1) {
            text += ", ";
        }
        text += url.absoluteString();
    }
    return text + "]";
}

} // namespace velmor
