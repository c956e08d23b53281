#pragma once

#include "app/model/nodes/CleanableNode.hpp"

#include <QIcon>
#include <QMimeType>

#include <string>
#include <sys/types.h>

namespace marrowdale {

// The type of the entry at `path`, which the scan saw with `mode`. Anything but a regular file is
// typed from the mode alone and never opened (a FIFO would block, a device could react). A regular
// file is typed by its name and its first bytes, read without moving its access time; where that
// cannot be promised (the user does not own the file), by its name alone.
QMimeType entryMimeType(const std::string& path, mode_t mode);

// A row's icon: its type's theme icon, else the type's generic icon, else the style's.
QIcon fileIcon(const CleanableNode& node);

} // namespace marrowdale
