#pragma once

#include "platform/fs/URL.hpp"

#include <string>
#include <string_view>

namespace sweepkit {

// The index-status tool, asked whether a volume is indexed.
struct IndexStatusTool {
    static constexpr const char* defaultPath = "/usr/bin/mdutil";

    std::string executablePath = defaultPath;

    // Runs "<tool> -s <volume path>" to its end and reads its answer; the exit status plays no part.
    // Throws the launch error when the tool cannot be started.
    bool isIndexed(const velmor::URL& volume) const;

    // What the tool's output says: not indexed when it is no UTF-8 text, mentions "disabled" or
    // mentions "Error"; indexed otherwise.
    static bool isIndexedFromOutput(std::string_view output);
};

} // namespace sweepkit
