#pragma once

#include "platform/error/Error.hpp"
#include "platform/fs/URL.hpp"

#include <cstddef>
#include <fcntl.h>
#include <optional>
#include <string>

namespace velmor {

// File-reading error codes (in `Error::cocoaDomain`).
inline constexpr std::int64_t fileReadUnknownCode = 256;
inline constexpr std::int64_t fileReadNoPermissionCode = 257;
inline constexpr std::int64_t fileReadNoSuchFileCode = 260;
inline constexpr std::int64_t fileReadInapplicableStringEncodingCode = 261;
inline constexpr std::int64_t fileReadTooLargeCode = 263;

// Whether a whole-file read follows a symbolic link at the last step of its path. Names that come
// from data are read with `refuse`.
enum class FinalLink { follow, refuse };

// What reading a whole file gave: its bytes, or the POSIX code of the failure and its cause in words.
struct WholeFile {
    std::string contents;
    int error = 0;
    std::string cause;
};

// The one reader of whole files. It opens without waiting, so a FIFO or device planted at the path
// cannot hold it, takes only a regular file, and reads at most `maximumSize` bytes: a larger file
// is a failure (EFBIG), never a part of it. A relative `path` is taken from the open folder
// `folder`.
WholeFile readWholeFile(const std::string& path, std::size_t maximumSize,
                        FinalLink finalLink = FinalLink::follow, int folder = AT_FDCWD);

// The error of the failed read `read` of the file at `path`: a POSIX error whose description names
// the path and the cause.
Error readFailure(const WholeFile& read, const std::string& path);

// The error of a write refused before it began because the file it would make, `size` bytes with
// `what` in it, is past the `maximumSize` that the file's reader takes (EFBIG, naming the file).
Error tooLargeForReader(const std::string& path, const std::string& what, std::size_t size,
                        std::size_t maximumSize);

// `cause`, the error of a failed write of the file at `path`, with a description that names the
// file: the code stays, the cause is kept underneath.
Error writeFailure(const Error& cause, const std::string& path);

// The whole contents of the file at `url`, read by `readWholeFile`. A failure throws an
// `ErrorException` whose error names the file and its cause and carries the POSIX cause underneath.
std::string contentsOfFile(const URL& url, std::size_t maximumSize);

// The same for a file that must hold UTF-8 text; other bytes are a failure too.
std::string utf8ContentsOfFile(const URL& url, std::size_t maximumSize);

// The whole content of the file at `path`, read by `readWholeFile`. Nothing when there is no entry at
// the path, so callers need no separate existence test that could race with the read. Any other
// failure (a folder, a FIFO, a file too large or that cannot be read) throws `ErrorException` with a
// POSIX error whose description names the path and the cause.
std::optional<std::string> readFileIfPresent(const std::string& path, std::size_t maximumSize,
                                             FinalLink finalLink = FinalLink::follow, int folder = AT_FDCWD);

} // namespace velmor
