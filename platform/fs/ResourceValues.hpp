#pragma once

#include "platform/fs/Stat.hpp"
#include "platform/fs/URL.hpp"

#include <chrono>
#include <cstdint>
#include <optional>
#include <span>

namespace velmor {

// The dates a file URL can be asked for.
enum class DateResourceKey {
    creationDate,              // birth time, where the file system records one
    contentModificationDate,   // mtime
    attributeModificationDate, // ctime
    contentAccessDate,         // atime
    addedToDirectoryDate,      // Linux records no such date: always absent
};

// One date of the entry at `url`, not following a final symbolic link. Nothing when the file system
// keeps no such date; throws `ErrorException` (a POSIX error carrying the path) when the entry cannot
// be read.
std::optional<std::chrono::system_clock::time_point> dateResourceValue(const URL& url, DateResourceKey key);

// Several dates of one entry, read together.
class DateResourceValues {
public:
    using Date = std::chrono::system_clock::time_point;

    // The date for `key`: nothing when it was not asked for or the file system keeps none.
    std::optional<Date> operator[](DateResourceKey key) const;

private:
    friend DateResourceValues dateResourceValues(const URL& url, std::span<const DateResourceKey> keys);
    friend DateResourceValues dateResourceValues(const URL& url, const Stat& current,
                                                 std::span<const DateResourceKey> keys);
    std::optional<Date> dates_[5];
};

// The dates `keys` of the entry at `url` with one `statx` for all of them, as `dateResourceValue`
// reads each: not following a final link, throwing `ErrorException` when the entry cannot be read.
DateResourceValues dateResourceValues(const URL& url, std::span<const DateResourceKey> keys);

// The same dates taken from `current`, a record of the entry at `url` read just now by `statx` with
// the birth time asked for and not following a final link, as a walk reads its entries. The entry is
// read only for a birth time the record lacks, and that read throws as `dateResourceValues` does.
DateResourceValues dateResourceValues(const URL& url, const Stat& current,
                                      std::span<const DateResourceKey> keys);

// The bytes the entry at `url` takes on disk (its allocated blocks), not following a final symbolic
// link: less than its length for a sparse file. Nothing for a folder or an entry that cannot be read.
std::optional<std::int64_t> totalFileAllocatedSize(const URL& url);

} // namespace velmor
