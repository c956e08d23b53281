#include "platform/fs/Package.hpp"

#include "platform/fs/Stat.hpp"

#include <strings.h>
#include <sys/stat.h>

namespace velmor {

bool hasPackageExtension(std::string_view name) {
    static constexpr std::string_view extensions[] = {".app",  ".bundle", ".framework", ".plugin",
                                                      ".kext", ".appex",  ".xpc"};
    for (std::string_view extension : extensions) {
        // A bare ".app" is a hidden name, not a package.
        if (name.size() > extension.size() && ::strncasecmp(name.data() + name.size() - extension.size(),
                                                            extension.data(), extension.size()) == 0) {
            return true;
        }
    }
    return false;
}

bool isPackage(const URL& url) {
    if (!hasPackageExtension(url.lastPathComponent())) {
        return false;
    }
    auto stat = Stat::lstatPath(url.path());
    return stat && S_ISDIR(stat->st_mode);
}

} // namespace velmor
