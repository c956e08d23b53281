#include "sdk/filesystem/DeletePermission.hpp"

#include <algorithm>
#include <sys/stat.h>

namespace sweepkit {

bool canWriteDirectory(const velmor::Stat& directory, std::uint32_t user,
                       const std::vector<std::uint32_t>& groups) {
    if (user == 0) {
        return true;
    }
    if (user == directory.st_uid) {
        if (directory.st_mode & S_IWUSR) {
            return true;
        }
    } else if (directory.st_mode & S_IWOTH) {
        return true;
    }
    if (!(directory.st_mode & S_IWGRP)) {
        return false;
    }
    return std::find(groups.begin(), groups.end(), directory.st_gid) != groups.end();
}

} // namespace sweepkit
