#pragma once

#include "platform/fs/URL.hpp"

#include <optional>

namespace velmor {

// Whether the process's real user may write the entry at `url` (the platform's is-writable
// resource value). Nothing when the entry cannot be checked (it does not exist, say).
std::optional<bool> isWritable(const URL& url);

} // namespace velmor
