#pragma once

#include "platform/error/Error.hpp"
#include "platform/fs/Stat.hpp"
#include "platform/fs/URL.hpp"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace sweepkit {

// One entry met by a walk. Which payload an event carries depends on its kind: see the factories.
// Events are plain values: a consumer may keep them after the walk has moved on.
class Event {
public:
    enum class Kind : std::uint8_t {
        enterDirectory,
        cycle,
        unknownType,
        unreadableDirectory,
        dotFile,
        leaveDirectory,
        file,
        fileError,
        fileWithNoStat,
        symlink,
        brokenSymlink,
        error,
    };

    static Event enterDirectory(std::string path, const velmor::Stat& stat, bool hasDeletePermission);
    static Event cycle(std::string path);
    static Event unknownType(std::string path, const velmor::Stat& stat, bool hasDeletePermission);
    static Event unreadableDirectory(std::string path, velmor::Error error);
    static Event dotFile(std::string path, const velmor::Stat& stat, bool hasDeletePermission);
    static Event leaveDirectory(std::string path, const velmor::Stat& stat);
    static Event file(std::string path, const velmor::Stat& stat, bool hasDeletePermission);
    static Event fileError(std::string path, velmor::Error error);
    static Event fileWithNoStat(std::string path);
    static Event symlink(std::string path, const velmor::Stat& stat, bool hasDeletePermission);
    static Event brokenSymlink(std::string path, const velmor::Stat& stat, bool hasDeletePermission);
    static Event error(std::string path, velmor::Error error);

    Kind kind() const { return kind_; }
    const std::string& path() const { return path_; }
    velmor::URL url() const { return velmor::URL::fileURL(path_); }
    // The stat record of the kinds that carry one; nothing for the others.
    const velmor::Stat* stat() const { return hasStat_ ? &stat_ : nullptr; }
    // The failure of `unreadableDirectory`, `fileError` and `error`; nothing for the others.
    const velmor::Error* error() const { return error_.get(); }
    // Carried by the kinds with a stat record, except `leaveDirectory`; false for the others.
    bool hasDeletePermission() const { return hasDeletePermission_; }

private:
    friend class FileSystemIterator;
    friend class PackedEvent;

    Event(Kind kind, std::string path) : kind_(kind), path_(std::move(path)) {}
    // Makes this the event of an entry with the given fts_info, in place: the path's storage is
    // kept, so a walk that refills one event allocates nothing per entry. `stat` is the entry's
    // record for the kinds that carry one, `failure` the errno of those that carry an error.
    void assignEntry(int info, std::string_view path, const velmor::Stat* stat, int failure,
                     bool hasDeletePermission);
    static Event withStat(Kind kind, std::string path, const velmor::Stat& stat, bool hasDeletePermission);
    static Event withError(Kind kind, std::string path, velmor::Error error);

    Kind kind_;
    bool hasStat_ = false;
    bool hasDeletePermission_ = false;
    std::string path_;
    velmor::Stat stat_;
    // Shared by copies, and held apart: most events carry none, and a search holds many events.
    std::shared_ptr<const velmor::Error> error_;
};

} // namespace sweepkit
