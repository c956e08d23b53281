#include "platform/fs/DirectoryListing.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

namespace velmor {

std::optional<bool> containsVisibleEntry(const URL& folder) {
    int descriptor = ::open(folder.path().c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (descriptor < 0) {
        return std::nullopt;
    }
    DIR* stream = ::fdopendir(descriptor);
    if (stream == nullptr) {
        const int cause = errno;
        ::close(descriptor);
        errno = cause;
        return std::nullopt;
    }
    bool found = false;
    while (struct ::dirent* entry = ::readdir(stream)) {
        if (entry->d_name[0] != '.') {
            found = true;
            break;
        }
    }
    ::closedir(stream);
    return found;
}

} // namespace velmor
