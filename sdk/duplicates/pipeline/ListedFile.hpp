#pragma once

#include "platform/error/Error.hpp"
#include "sdk/filesystem/Event.hpp"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace sweepkit::pipeline {

// The regular file a walk event listed, open for reading. Opening fails when what stands at the
// event's path now is not that file: a link is never followed, and a file replaced, rewritten or
// swapped for a pipe since the walk is refused rather than read in its place. Reading never
// changes the file's access time where the process may prevent it. Every failure throws an
// `ErrorException` whose error carries the path.
class ListedFile {
public:
    explicit ListedFile(const Event& event);
    ~ListedFile();
    ListedFile(const ListedFile&) = delete;
    ListedFile& operator=(const ListedFile&) = delete;

    // The error of a file that is no longer the one listed at `path`.
    static velmor::Error changedError(const std::string& path);

    const std::string& path() const { return path_; }
    // The size the walk listed (the open file's size for an event without a status record).
    std::int64_t size() const { return size_; }
    // Fills `buffer` as far as the file allows; fewer bytes only at the end of the file.
    std::size_t read(std::span<std::uint8_t> buffer);

private:
    std::string path_;
    int descriptor_ = -1;
    std::int64_t size_ = 0;
};

} // namespace sweepkit::pipeline
