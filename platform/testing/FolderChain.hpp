#pragma once

#include <cstdio>
#include <filesystem>
#include <string>

namespace velmor::testing {

// `levels` folders one inside the other below `top` (made if missing), named l0, l1 ..., each holding
// the files "a" and "z", so that a walk comes back to every folder after the one below it. The
// deepest folder's path.
inline std::string makeFolderChain(const std::string& top, int levels) {
    std::string path = top;
    std::filesystem::create_directories(path);
    for (int level = 0; level < levels; ++level) {
        path += "/l" + std::to_string(level);
        std::filesystem::create_directory(path);
        for (const char* name : {"/a", "/z"}) {
            std::fclose(std::fopen((path + name).c_str(), "w"));
        }
    }
    return path;
}

} // namespace velmor::testing
