#pragma once

#include <string>

namespace velmor {

// `path` with every symbolic link in it resolved, as an absolute path; `path` itself when it cannot
// be resolved (a component is missing or unreadable).
std::string resolvingSymlinksOr(const std::string& path);

} // namespace velmor
