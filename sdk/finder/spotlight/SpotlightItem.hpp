#pragma once

#include "platform/metadata/MetadataItem.hpp"
#include "sdk/finder/records/FileSystemItem.hpp"

#include <optional>

namespace sweepkit {

// The search item for a result of an index query: its status record read from disk without
// following a final link (zeros when it cannot be read), with the allocated size as its size (the
// size the index recorded when the disk cannot tell, else 0), and whether the user may delete it.
// Nothing when the result carries no path.
std::optional<FileSystemItem> makeSpotlightItem(const velmor::metadata::MetadataItem& result);

} // namespace sweepkit
