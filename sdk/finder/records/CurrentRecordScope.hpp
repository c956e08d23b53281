#pragma once

#include "sdk/finder/records/FileSystemItem.hpp"

namespace sweepkit {

// Says, for as long as it lives on this thread, that the record of `item` was read from the file
// system just now the way a file's dates are read (one `statx` with the birth time asked for, not
// following a final link), as a walk reads the entry it hands out. A criterion judging that very
// item may then take the file's dates from the record instead of reading the file once more. Any
// other item, a copy of it included, has a record of unknown age.
class CurrentRecordScope {
public:
    explicit CurrentRecordScope(const FileSystemItem& item);
    ~CurrentRecordScope();
    CurrentRecordScope(const CurrentRecordScope&) = delete;
    CurrentRecordScope& operator=(const CurrentRecordScope&) = delete;

    static bool holds(const FileSystemItem& item);

private:
    const FileSystemItem* previous_;
};

} // namespace sweepkit
