#pragma once

#include "platform/fs/URL.hpp"

#include <string>

namespace velmor {

// Whether an item exists at the path and is a folder; a link to a folder counts as one.
bool isDirectory(const URL& url);
bool isDirectory(const std::string& path);

} // namespace velmor
