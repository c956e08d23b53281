#pragma once

#include "platform/fs/Descriptor.hpp"

#include <string>
#include <string_view>

namespace velmor {

// A folder opened once, as given, that entries below it are reached from.
//
// Links in the folder's own path are followed: they are the user's setup (a home folder that is a
// link to another disk). Below it nothing is followed: every folder on the way to an entry is
// opened relative to the one above it with O_NOFOLLOW, so a folder swapped for a link after it was
// seen leads nowhere, instead of leading outside.
class AnchoredFolder {
public:
    explicit AnchoredFolder(std::string path);

    const std::string& path() const { return path_; }
    // Whether `entry` lies strictly below this folder, by whole path components.
    bool holds(std::string_view entry) const;

    // The folder that holds `entry` (strictly below this folder), and the entry's name in it. On
    // failure an invalid descriptor, with errno: the folder's own opening error; ENOTDIR when a
    // folder on the way is no longer a folder; EINVAL when the path below has a "." or ".."
    // component.
    Descriptor openParentOf(std::string_view entry, std::string& name) const;

private:
    std::string path_;
    Descriptor descriptor_;
    int openError_ = 0;
};

} // namespace velmor
