#pragma once

#include <optional>
#include <string>

namespace velmor {

// The whole content of the file at `path`, read through one open descriptor. Nothing when there is no
// entry at the path, so callers need no separate existence test that could race with the read. Any
// other failure (a folder, a file that cannot be read) throws `ErrorException` with a POSIX error
// carrying the path.
std::optional<std::string> readFileIfPresent(const std::string& path);

} // namespace velmor
