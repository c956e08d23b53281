#include "sdk/filesystem/Event.hpp"

#include <fts.h>

namespace sweepkit {

using velmor::Error;
using velmor::Stat;

Event Event::withStat(Kind kind, std::string path, const Stat& stat, bool hasDeletePermission) {
    Event event(kind, std::move(path));
    event.hasStat_ = true;
    event.stat_ = stat;
    event.hasDeletePermission_ = hasDeletePermission;
    return event;
}

Event Event::withError(Kind kind, std::string path, Error error) {
    Event event(kind, std::move(path));
    event.error_ = std::move(error);
    return event;
}

Event Event::enterDirectory(std::string path, const Stat& stat, bool hasDeletePermission) {
    return withStat(Kind::enterDirectory, std::move(path), stat, hasDeletePermission);
}
Event Event::cycle(std::string path) {
    return Event(Kind::cycle, std::move(path));
}
Event Event::unknownType(std::string path, const Stat& stat, bool hasDeletePermission) {
    return withStat(Kind::unknownType, std::move(path), stat, hasDeletePermission);
}
Event Event::unreadableDirectory(std::string path, Error error) {
    return withError(Kind::unreadableDirectory, std::move(path), std::move(error));
}
Event Event::dotFile(std::string path, const Stat& stat, bool hasDeletePermission) {
    return withStat(Kind::dotFile, std::move(path), stat, hasDeletePermission);
}
Event Event::leaveDirectory(std::string path, const Stat& stat) {
    return withStat(Kind::leaveDirectory, std::move(path), stat, false);
}
Event Event::file(std::string path, const Stat& stat, bool hasDeletePermission) {
    return withStat(Kind::file, std::move(path), stat, hasDeletePermission);
}
Event Event::fileError(std::string path, Error error) {
    return withError(Kind::fileError, std::move(path), std::move(error));
}
Event Event::fileWithNoStat(std::string path) {
    return Event(Kind::fileWithNoStat, std::move(path));
}
Event Event::symlink(std::string path, const Stat& stat, bool hasDeletePermission) {
    return withStat(Kind::symlink, std::move(path), stat, hasDeletePermission);
}
Event Event::brokenSymlink(std::string path, const Stat& stat, bool hasDeletePermission) {
    return withStat(Kind::brokenSymlink, std::move(path), stat, hasDeletePermission);
}
Event Event::error(std::string path, Error error) {
    return withError(Kind::error, std::move(path), std::move(error));
}

Event Event::fromEntry(const FTSENT& entry, bool hasDeletePermission) {
    std::string path(entry.fts_path, entry.fts_pathlen);
    auto stat = [&] { return Stat::fromLinux(*entry.fts_statp); };
    auto failure = [&] { return Error::posix(entry.fts_errno); };
    switch (entry.fts_info) {
    case FTS_D:
        return enterDirectory(std::move(path), stat(), hasDeletePermission);
    case FTS_DC:
        return cycle(std::move(path));
    case FTS_DEFAULT:
        return unknownType(std::move(path), stat(), hasDeletePermission);
    case FTS_DNR:
        return unreadableDirectory(std::move(path), failure());
    case FTS_DOT:
        return dotFile(std::move(path), stat(), hasDeletePermission);
    case FTS_DP:
        return leaveDirectory(std::move(path), stat());
    case FTS_ERR:
        return error(std::move(path), failure());
    case FTS_F:
        return file(std::move(path), stat(), hasDeletePermission);
    case FTS_NS:
        return fileError(std::move(path), failure());
    case FTS_NSOK:
        return fileWithNoStat(std::move(path));
    case FTS_SL:
        return symlink(std::move(path), stat(), hasDeletePermission);
    case FTS_SLNONE:
        return brokenSymlink(std::move(path), stat(), hasDeletePermission);
    default:
        return error(std::move(path), Error::posix(ENOTSUP));
    }
}

} // namespace sweepkit
