#include "foundation/services/toggles/RootFlagFile.hpp"

#include <sys/stat.h>

namespace velmor {

bool RootFlagFile::isFulfilled() const {
    const auto& logger = settings.logger();
    if (!settings.rootFlagLocation) {
        logger->debug([] { return std::string("Can't find baseURL for RootFlagFile Feature Toggle"); });
        return false;
    }
    // A name that could leave the folder names no flag.
    if (name.empty() || name.find('/') != std::string::npos) {
        logger->debug([this] { return "Invalid flag name " + name; });
        return false;
    }
    const std::string path = settings.rootFlagLocation->appendingPathComponent("." + name).path();
    struct ::stat record {};
    if (::lstat(path.c_str(), &record) != 0) {
        return false;
    }
    if (record.st_uid == 0) {
        logger->debug([this] { return "Flag is active for " + name; });
        return true;
    }
    logger->debug([this] { return "Flag invalid for " + name; });
    return false;
}

} // namespace velmor
