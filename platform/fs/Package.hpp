#pragma once

#include "platform/fs/URL.hpp"

namespace velmor {

// Whether the entry is a package: a folder shown and handled as one item. On Linux that is a folder
// whose name ends in one of the known bundle extensions (.app, .bundle, .framework, .plugin, .kext,
// .appex, .xpc), compared without regard to case. Nothing is read from disk but the entry's type.
bool isPackage(const URL& url);

// The same test when the caller already knows the entry is a folder.
bool hasPackageExtension(std::string_view name);

} // namespace velmor
