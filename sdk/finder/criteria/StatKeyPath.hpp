#pragma once

#include "platform/fs/Stat.hpp"
#include "sdk/finder/criteria/StatTimeIntervals.hpp"

#include <cstdint>
#include <string>
#include <string_view>

namespace sweepkit {

// A named read-only path from a stat record to one of its values. Two key paths are equal when they
// read the same value under the same name.
template <typename T> struct StatKeyPath {
    std::string_view name;
    T (*read)(const velmor::Stat&);

    T operator()(const velmor::Stat& stat) const { return read(stat); }
    // As key paths print: "\stat.st_size".
    std::string description() const { return "\\stat." + std::string(name); }

    friend bool operator==(const StatKeyPath& a, const StatKeyPath& b) {
        return a.read == b.read && a.name == b.name;
    }
};

namespace statKeyPaths {

inline std::int64_t readSize(const velmor::Stat& stat) {
    return stat.st_size;
}

inline constexpr StatKeyPath<std::int64_t> size{"st_size", &readSize};
inline constexpr StatKeyPath<double> modificationTimeInterval{"modificationTimeInterval",
                                                              &sweepkit::modificationTimeInterval};
inline constexpr StatKeyPath<double> statusChangeTimeInterval{"statusChangeTimeInterval",
                                                              &sweepkit::statusChangeTimeInterval};
inline constexpr StatKeyPath<double> accessTimeInterval{"accessTimeInterval", &sweepkit::accessTimeInterval};
inline constexpr StatKeyPath<double> secondsSinceModification{"secondsSinceModification",
                                                              &sweepkit::secondsSinceModification};
inline constexpr StatKeyPath<double> secondsSinceStatusChange{"secondsSinceStatusChange",
                                                              &sweepkit::secondsSinceStatusChange};
inline constexpr StatKeyPath<double> secondsSinceAccess{"secondsSinceAccess", &sweepkit::secondsSinceAccess};

} // namespace statKeyPaths

} // namespace sweepkit
