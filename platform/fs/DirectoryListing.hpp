#pragma once

#include "platform/fs/URL.hpp"

#include <optional>

namespace velmor {

// Whether the folder holds anything that is not hidden (a name beginning with a dot). Stops at the
// first such entry. Nothing, with errno telling why, when the folder cannot be listed.
std::optional<bool> containsVisibleEntry(const URL& folder);

} // namespace velmor
