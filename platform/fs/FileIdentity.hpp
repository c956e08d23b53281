#pragma once

#include "platform/fs/Stat.hpp"
#include "platform/fs/URL.hpp"

#include <cstdint>
#include <string>

namespace velmor {

// What makes an entry the one that was seen before: its device, inode and type and, where the file
// system records it, its birth time. An inode number alone is handed to the next file created as
// soon as the old one is deleted; the birth time tells the two apart. Size and the other dates
// change when a file is written or touched, and do not count.
struct FileIdentity {
    std::int32_t device = 0;
    std::uint64_t inode = 0;
    std::uint16_t type = 0; // the S_IFMT bits of the mode
    Timespec birthTime;     // zero when unknown

    static FileIdentity of(const Stat& stat);

    // Birth times are compared only when both records have one.
    bool isSameEntry(const Stat& now) const;
};

// `walked` with the birth time of the entry at `url`, read with one `statx`, when that entry is
// still the one `walked` describes; `walked` unchanged otherwise (or when it cannot be read). A record
// that already holds a birth time is kept as it is: reading it again could only confirm it.
Stat withBirthTime(const URL& url, Stat walked);

} // namespace velmor
