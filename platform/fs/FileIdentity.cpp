#include "platform/fs/FileIdentity.hpp"

#include <sys/stat.h>

namespace velmor {

FileIdentity FileIdentity::of(const Stat& stat) {
    return FileIdentity{stat.st_dev, stat.st_ino, static_cast<std::uint16_t>(stat.st_mode & S_IFMT),
                        stat.st_birthtimespec};
}

bool FileIdentity::isSameEntry(const Stat& now) const {
    if (now.st_dev != device || now.st_ino != inode || (now.st_mode & S_IFMT) != type) {
        return false;
    }
    const Timespec unknown{};
    return birthTime == unknown || now.st_birthtimespec == unknown || now.st_birthtimespec == birthTime;
}

Stat withBirthTime(const URL& url, Stat walked) {
    if (walked.st_birthtimespec != Timespec{}) {
        return walked;
    }
    auto now = Stat::lstatPath(url.path());
    if (now && FileIdentity::of(walked).isSameEntry(*now)) {
        walked.st_birthtimespec = now->st_birthtimespec;
    }
    return walked;
}

} // namespace velmor
