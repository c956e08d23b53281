#pragma once

#include "platform/fs/FileIdentity.hpp"
#include "platform/fs/URL.hpp"

#include <optional>

namespace sweepkit {

// One entry to delete, with what it must still be: an entry found by a scan is deleted only while
// its path holds that same entry.
struct CleaningEntry {
    velmor::URL url;
    std::optional<velmor::FileIdentity> expected;
};

} // namespace sweepkit
