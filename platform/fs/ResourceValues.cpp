#include "platform/fs/ResourceValues.hpp"

#include "platform/error/Error.hpp"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>

namespace velmor {

namespace {

unsigned int statxMask(DateResourceKey key) {
    switch (key) {
    case DateResourceKey::creationDate:
        return STATX_BTIME;
    case DateResourceKey::contentModificationDate:
        return STATX_MTIME;
    case DateResourceKey::attributeModificationDate:
        return STATX_CTIME;
    case DateResourceKey::contentAccessDate:
        return STATX_ATIME;
    case DateResourceKey::addedToDirectoryDate:
        break;
    }
    return 0;
}

std::chrono::system_clock::time_point toTimePoint(const struct ::statx_timestamp& time) {
    return std::chrono::system_clock::time_point(
        std::chrono::duration_cast<std::chrono::system_clock::duration>(
            std::chrono::seconds(time.tv_sec) + std::chrono::nanoseconds(time.tv_nsec)));
}

} // namespace

std::optional<std::chrono::system_clock::time_point> dateResourceValue(const URL& url, DateResourceKey key) {
    unsigned int mask = statxMask(key);
    if (mask == 0) {
        return std::nullopt;
    }
    std::string path = url.path();
    struct ::statx record {};
    if (::statx(AT_FDCWD, path.c_str(), AT_SYMLINK_NOFOLLOW, mask, &record) != 0) {
        throw ErrorException(Error::posixForPath(errno, path));
    }
    if ((record.stx_mask & mask) == 0) {
        return std::nullopt;
    }
    switch (key) {
    case DateResourceKey::creationDate:
        return toTimePoint(record.stx_btime);
    case DateResourceKey::contentModificationDate:
        return toTimePoint(record.stx_mtime);
    case DateResourceKey::attributeModificationDate:
        return toTimePoint(record.stx_ctime);
    case DateResourceKey::contentAccessDate:
        return toTimePoint(record.stx_atime);
    case DateResourceKey::addedToDirectoryDate:
        break;
    }
    return std::nullopt;
}

std::optional<std::int64_t> totalFileAllocatedSize(const URL& url) {
    struct ::statx record {};
    if (::statx(AT_FDCWD, url.path().c_str(), AT_SYMLINK_NOFOLLOW, STATX_TYPE | STATX_BLOCKS, &record) != 0 ||
        (record.stx_mask & STATX_BLOCKS) == 0 || S_ISDIR(record.stx_mode)) {
        return std::nullopt;
    }
    // statx counts blocks of 512 bytes whatever the file system's own block size.
    return static_cast<std::int64_t>(record.stx_blocks) * 512;
}

} // namespace velmor
