#pragma once

#include "sdk/duplicates/pipeline/Filter.hpp"

#include <cstdint>
#include <string>
#include <vector>

namespace sweepkit::pipeline {

// Turns away hidden entries: those flagged hidden in their status record, those whose name begins
// with `hiddenFilePrefix` (a path ending in "." or ".." names none), and those whose path ends
// with one of `folderToSkip`. Linux sets no such
// flag, so there the name and the suffixes decide.
struct SkipHiddenFilesystemItem : Filter {
    static constexpr std::uint32_t hiddenFlag = 0x8000;

    std::vector<std::string> folderToSkip{"/private"};
    char hiddenFilePrefix = '.';

    bool isFiltered(const Event& event) const override;
};

} // namespace sweepkit::pipeline
