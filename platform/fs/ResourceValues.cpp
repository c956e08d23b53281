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

// Of a statx timestamp or of a record's time.
template <typename Time> std::chrono::system_clock::time_point toTimePoint(const Time& time) {
    return std::chrono::system_clock::time_point(
        std::chrono::duration_cast<std::chrono::system_clock::duration>(
            std::chrono::seconds(time.tv_sec) + std::chrono::nanoseconds(time.tv_nsec)));
}

} // namespace

std::optional<DateResourceValues::Date> DateResourceValues::operator[](DateResourceKey key) const {
    return dates_[static_cast<std::size_t>(key)];
}

DateResourceValues dateResourceValues(const URL& url, std::span<const DateResourceKey> keys) {
    unsigned int mask = 0;
    for (auto key : keys) {
        mask |= statxMask(key);
    }
    DateResourceValues values;
    if (mask == 0) {
        return values;
    }
    std::string path = url.path();
    struct ::statx record {};
    if (::statx(AT_FDCWD, path.c_str(), AT_SYMLINK_NOFOLLOW, mask, &record) != 0) {
        throw ErrorException(Error::posixForPath(errno, path));
    }
    for (auto key : keys) {
        const struct ::statx_timestamp* time = nullptr;
        switch (key) {
        case DateResourceKey::creationDate:
            time = &record.stx_btime;
            break;
        case DateResourceKey::contentModificationDate:
            time = &record.stx_mtime;
            break;
        case DateResourceKey::attributeModificationDate:
            time = &record.stx_ctime;
            break;
        case DateResourceKey::contentAccessDate:
            time = &record.stx_atime;
            break;
        case DateResourceKey::addedToDirectoryDate:
            break;
        }
        if (time != nullptr && (record.stx_mask & statxMask(key)) != 0) {
            values.dates_[static_cast<std::size_t>(key)] = toTimePoint(*time);
        }
    }
    return values;
}

DateResourceValues dateResourceValues(const URL& url, const Stat& current,
                                      std::span<const DateResourceKey> keys) {
    DateResourceValues values;
    bool lacksBirthTime = false;
    for (auto key : keys) {
        auto& value = values.dates_[static_cast<std::size_t>(key)];
        switch (key) {
        case DateResourceKey::creationDate:
            // A record without one may come from a file system that keeps none, or from a statx that
            // was not given it: only the file can tell.
            if (current.st_birthtimespec != Timespec{}) {
                value = toTimePoint(current.st_birthtimespec);
            } else {
                lacksBirthTime = true;
            }
            break;
        case DateResourceKey::contentModificationDate:
            value = toTimePoint(current.st_mtimespec);
            break;
        case DateResourceKey::attributeModificationDate:
            value = toTimePoint(current.st_ctimespec);
            break;
        case DateResourceKey::contentAccessDate:
            value = toTimePoint(current.st_atimespec);
            break;
        case DateResourceKey::addedToDirectoryDate:
            break;
        }
    }
    if (lacksBirthTime) {
        const DateResourceKey birth = DateResourceKey::creationDate;
        values.dates_[static_cast<std::size_t>(birth)] = dateResourceValues(url, {&birth, 1})[birth];
    }
    return values;
}

std::optional<std::chrono::system_clock::time_point> dateResourceValue(const URL& url, DateResourceKey key) {
    return dateResourceValues(url, {&key, 1})[key];
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
