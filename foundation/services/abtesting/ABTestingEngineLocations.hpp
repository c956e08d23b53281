#pragma once

#include "platform/fs/URL.hpp"

#include <string>

namespace velmor {

struct ABTestingEngineLocations {
    // The feature file of the download server (HTTPS).
    std::string remoteURL;
    // Folder of the local sync file.
    URL localURL;
    // Folder of the flag files.
    URL flagFilesDirectoryURL;

    // Machine-wide state lives with root, where every user's processes may read it.
    static const ABTestingEngineLocations& q4() {
        static const ABTestingEngineLocations locations{"https://download.velmor.com/mac/Q/features-q4.json",
                                                        URL::fileURL("/var/lib/Velmor"),
                                                        URL::fileURL("/var/lib/Velmor")};
        return locations;
    }
};

} // namespace velmor
