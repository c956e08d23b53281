#pragma once

#include "platform/coding/Decoding.hpp"

#include <string>
#include <vector>

namespace sweepkit {

// What a duplicate search leaves out. Every field is given; none has a default.
struct DuplicateFinderSettings {
    // A hidden file is never a duplicate.
    bool skipHiddenFiles;
    // A hidden folder is not entered.
    bool skipHiddenFolders;
    // A system folder is not entered.
    bool skipSystemFolders;
    // A folder whose path contains one of these is not entered.
    std::vector<std::string> patternsToSkip;

    DuplicateFinderSettings(bool skipHiddenFiles, bool skipHiddenFolders, bool skipSystemFolders,
                            std::vector<std::string> patternsToSkip)
        : skipHiddenFiles(skipHiddenFiles), skipHiddenFolders(skipHiddenFolders),
          skipSystemFolders(skipSystemFolders), patternsToSkip(std::move(patternsToSkip)) {}

    friend bool operator==(const DuplicateFinderSettings&, const DuplicateFinderSettings&) = default;
};

} // namespace sweepkit

// Keyed by the field names, in field order; every key is required.
template <> struct velmor::coding::Coding<sweepkit::DuplicateFinderSettings> {
    static Value encode(const sweepkit::DuplicateFinderSettings& settings);
    static sweepkit::DuplicateFinderSettings decode(const Decoder& decoder);
};
