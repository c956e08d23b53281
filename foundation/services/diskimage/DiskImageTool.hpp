#pragma once

#include <string>

namespace velmor {

// Our stand-in for the system's two disk-image tools, `velmor-diskimage`: it takes their command
// lines and answers with their property lists. The operations run it wherever they would run either.
struct DiskImageTool {
    static constexpr const char* environmentVariable = "VELMOR_DISKIMAGE_TOOL";
    static constexpr const char* name = "velmor-diskimage";

    // Where `VELMOR_DISKIMAGE_TOOL` points, else the tool beside this library's file.
    static std::string path();
};

} // namespace velmor
