#include "platform/fs/FileAccess.hpp"

#include <cerrno>
#include <unistd.h>

namespace velmor {

std::optional<bool> isWritable(const URL& url) {
    if (::access(url.path().c_str(), W_OK) == 0) {
        return true;
    }
    // Denied or read-only is a clear "no"; anything else means the answer is unknown.
    if (errno == EACCES || errno == EROFS || errno == ETXTBSY || errno == EPERM) {
        return false;
    }
    return std::nullopt;
}

} // namespace velmor
