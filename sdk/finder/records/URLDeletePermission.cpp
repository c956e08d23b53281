#include "sdk/finder/records/URLDeletePermission.hpp"

#include "platform/fs/FileAccess.hpp"
#include "platform/fs/Stat.hpp"
#include "sdk/filesystem/DeletePermission.hpp"

#include <sys/stat.h>
#include <unistd.h>

namespace sweepkit {

bool hasDeletePermission(const velmor::URL& url) {
    const velmor::URL parent = url.deletingLastPathComponent();
    const bool parentWritable = velmor::isWritable(parent).value_or(false);
    if (!parentWritable) {
        return false;
    }
    // A record that cannot be read counts as zeroed: no sticky bit on the parent, owner 0 for the
    // entry.
    const velmor::Stat parentStat = velmor::Stat::lstatPath(parent.path()).value_or(velmor::Stat{});
    const velmor::Stat entryStat = velmor::Stat::lstatPath(url.path()).value_or(velmor::Stat{});
    return mayDeleteEntry(parentWritable, (parentStat.st_mode & S_ISVTX) != 0, ::getuid(), entryStat.st_uid);
}

} // namespace sweepkit
