#pragma once

#include "platform/fs/URL.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace velmor {

// A user-defaults suite: named entries kept in one XML property list,
// $XDG_CONFIG_HOME/Velmor/Preferences/<suite>.plist.
//
// Nothing is cached: each read parses the file, and each write re-reads it under an exclusive lock
// of the suite's writers (a lock file beside it that only this user can open), changes its one
// entry and replaces the file atomically. Two threads or processes writing different entries
// therefore lose nothing of each other's. A write waits a few seconds at most for another's lock,
// then fails naming the file; reads never wait. Safe from any thread.
class UserDefaults {
public:
    // The suite's file is placed when the suite is made, from the environment at that time. A suite
    // name that is empty, "." or "..", or holds "/" or NUL, throws `std::invalid_argument`.
    explicit UserDefaults(std::string suiteName);

    // The suite named by the main bundle's identifier, else by the name the program was started under.
    static UserDefaults& standard();

    const std::string& suiteName() const { return suiteName_; }
    // Nothing when there is no configuration folder (neither XDG_CONFIG_HOME nor a home folder).
    const std::optional<URL>& fileURL() const { return fileURL_; }

    // A key holding NUL throws `std::invalid_argument`.

    // A file that exists but cannot be read, or is no property-list dictionary, reads as empty, with
    // one error line naming the file and the cause; the write that replaces it first keeps it beside
    // as "<suite>.plist.corrupt", so nothing in it is lost unseen.

    // The data stored under `key`; nothing when the entry is missing or holds no data.
    std::optional<std::vector<std::uint8_t>> data(const std::string& key) const;
    // Stores `data` under `key`, replacing the entry. Throws `ErrorException` when the file cannot be
    // written, or cannot be kept aside when it could not be read.
    void set(const std::vector<std::uint8_t>& data, const std::string& key);
    // Removes the entry under `key`; no error when there is none. Fails like `set`.
    void removeObject(const std::string& key);

private:
    std::string suiteName_;
    std::optional<URL> fileURL_;
};

} // namespace velmor
