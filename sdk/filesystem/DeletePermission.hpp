#pragma once

#include "platform/fs/Stat.hpp"

#include <cstdint>
#include <vector>

namespace sweepkit {

// May `user` (with supplementary `groups`) create and remove entries in the directory described by
// `directory`? Root always may; the owner by the owner write bit, others by the world write bit, and
// anyone — the owner included — by the group write bit when the directory's group is theirs.
bool canWriteDirectory(const velmor::Stat& directory, std::uint32_t user,
                       const std::vector<std::uint32_t>& groups);

// The delete-permission rule, given what is known of the parent directory: removal needs write
// access to the parent, and in a sticky parent also root or ownership of the entry.
inline bool mayDeleteEntry(bool parentWritable, bool parentSticky, std::uint32_t user,
                           std::uint32_t entryOwner) {
    if (parentWritable && parentSticky) {
        return user == 0 || user == entryOwner;
    }
    return parentWritable;
}

} // namespace sweepkit
