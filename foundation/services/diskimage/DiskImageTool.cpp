#include "foundation/services/diskimage/DiskImageTool.hpp"

#include <cstdlib>
#include <dlfcn.h>

namespace velmor {

std::string DiskImageTool::path() {
    if (const char* chosen = std::getenv(environmentVariable); chosen != nullptr && *chosen != '\0') {
        return chosen;
    }
    // The build and the install put the tool in the folder of the library that runs it.
    Dl_info info{};
    if (::dladdr(reinterpret_cast<void*>(&DiskImageTool::path), &info) != 0 && info.dli_fname != nullptr) {
        std::string library = info.dli_fname;
        const auto slash = library.find_last_of('/');
        if (slash != std::string::npos) {
            return library.substr(0, slash + 1) + name;
        }
    }
    return name;
}

} // namespace velmor
