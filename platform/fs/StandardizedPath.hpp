#pragma once

#include <string>
#include <string_view>

namespace velmor {

// `path` in its standard form: a leading "~" or "~/" expanded to the home folder, empty and "."
// components and a trailing slash removed, ".." components of an absolute path resolved (".." at
// the root stays at the root), and a leading "/private" dropped when the path without it exists.
// Symbolic links are not resolved; a relative path stays relative and keeps its "..".
std::string standardizingPath(std::string_view path);

} // namespace velmor
