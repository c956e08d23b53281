#include "sdk/filesystem/Event.hpp"

#include <cerrno>
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
    event.error_ = std::make_shared<const Error>(std::move(error));
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

void Event::assignEntry(int info, std::string_view path, const Stat* stat, int failure,
                        bool hasDeletePermission) {
    path_.assign(path);
    hasStat_ = false;
    hasDeletePermission_ = false;
    error_.reset();
    auto withStat = [&](Kind kind, bool permission) {
        kind_ = kind;
        if (stat == nullptr) {
            // A kind that carries a record came without one: say so instead of handing out zeros.
            kind_ = Kind::fileError;
            error_ = std::make_shared<const Error>(Error::posix(EIO));
            return;
        }
        hasStat_ = true;
        stat_ = *stat;
        hasDeletePermission_ = permission;
    };
    auto withError = [&](Kind kind, int code) {
        kind_ = kind;
        error_ = std::make_shared<const Error>(Error::posix(code));
    };
    switch (info) {
    case FTS_D:
        withStat(Kind::enterDirectory, hasDeletePermission);
        break;
    case FTS_DC:
        kind_ = Kind::cycle;
        break;
    case FTS_DEFAULT:
        withStat(Kind::unknownType, hasDeletePermission);
        break;
    case FTS_DNR:
        withError(Kind::unreadableDirectory, failure);
        break;
    case FTS_DOT:
        withStat(Kind::dotFile, hasDeletePermission);
        break;
    case FTS_DP:
        withStat(Kind::leaveDirectory, false);
        break;
    case FTS_ERR:
        withError(Kind::error, failure);
        break;
    case FTS_F:
        withStat(Kind::file, hasDeletePermission);
        break;
    case FTS_NS:
        withError(Kind::fileError, failure);
        break;
    case FTS_NSOK:
        kind_ = Kind::fileWithNoStat;
        break;
    case FTS_SL:
        withStat(Kind::symlink, hasDeletePermission);
        break;
    case FTS_SLNONE:
        withStat(Kind::brokenSymlink, hasDeletePermission);
        break;
    default:
        withError(Kind::error, ENOTSUP);
        break;
    }
}

} // namespace sweepkit
