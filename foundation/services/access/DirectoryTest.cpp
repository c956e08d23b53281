#include "foundation/services/access/DirectoryTest.hpp"

#include <sys/stat.h>

namespace velmor {

bool isDirectory(const URL& url) {
    return isDirectory(url.path());
}

bool isDirectory(const std::string& path) {
    struct ::stat record {};
    return ::stat(path.c_str(), &record) == 0 && S_ISDIR(record.st_mode);
}

} // namespace velmor
