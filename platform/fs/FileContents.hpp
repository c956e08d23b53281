#pragma once

#include "platform/error/Error.hpp"
#include "platform/fs/URL.hpp"

#include <optional>
#include <string>

namespace velmor {

// File-reading error codes (in `Error::cocoaDomain`).
inline constexpr std::int64_t fileReadUnknownCode = 256;
inline constexpr std::int64_t fileReadNoPermissionCode = 257;
inline constexpr std::int64_t fileReadNoSuchFileCode = 260;
inline constexpr std::int64_t fileReadInapplicableStringEncodingCode = 261;

// The whole contents of the file at `url`. A failure throws an `ErrorException` whose error names
// the file and carries the POSIX cause underneath.
std::string contentsOfFile(const URL& url);

// The same for a file that must hold UTF-8 text; other bytes are a failure too.
std::string utf8ContentsOfFile(const URL& url);

// The whole content of the file at `path`, read through one open descriptor. Nothing when there is no
// entry at the path, so callers need no separate existence test that could race with the read. Any
// other failure (a folder, a file that cannot be read) throws `ErrorException` with a POSIX error
// carrying the path.
std::optional<std::string> readFileIfPresent(const std::string& path);

} // namespace velmor
