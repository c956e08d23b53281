#pragma once

#include "sdk/duplicates/pipeline/Filter.hpp"

#include <cstdint>
#include <string>
#include <vector>

namespace sweepkit::pipeline {

// Turns away system folders: paths that end with one of `folderToSkip` (a suffix, so
// "/Library/Caches" matches such a folder at any depth), and entries flagged system-restricted in
// their status record. Linux sets no such flag, so there the suffixes decide.
struct SystemFoldersFilter : Filter {
    static constexpr std::uint32_t restrictedFlag = 0x80000;
    static std::vector<std::string> defaultFolders();

    std::vector<std::string> folderToSkip = defaultFolders();

    bool isFiltered(const Event& event) const override;
};

} // namespace sweepkit::pipeline
