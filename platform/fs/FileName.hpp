#pragma once

#include <string_view>

namespace velmor {

// Whether `name` names an entry directly inside a folder: not empty, not "." or "..", and free of
// "/" and NUL. Names taken from callers or data are checked with this before they become paths, so
// that they never reach outside their folder.
inline bool isPlainFileName(std::string_view name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string_view::npos &&
           name.find('\0') == std::string_view::npos;
}

} // namespace velmor
