#pragma once

#include <cstdint>
#include <initializer_list>

namespace sweepkit {

// Walk options, with the values of the fts flags of the same meaning.
struct Options {
    std::int32_t rawValue = 0;

    constexpr Options() = default;
    constexpr explicit Options(std::int32_t raw) : rawValue(raw) {}
    constexpr Options(std::initializer_list<Options> members) {
        for (Options member : members) {
            rawValue |= member.rawValue;
        }
    }

    static const Options commandLineFollow; // FTS_COMFOLLOW: follow a symbolic link given as the root
    static const Options logical;           // FTS_LOGICAL: follow every symbolic link
    static const Options noChangeDirectory; // FTS_NOCHDIR: the walk never changes the working directory anyway
    static const Options physical;          // FTS_PHYSICAL: report links as links
    static const Options seeDot;            // FTS_SEEDOT
    static const Options crossDevice;       // FTS_XDEV: stay on the root's device
    // Same flag as `commandLineFollow`, under the name callers that only care about the root use.
    static const Options followRootSymlink;

    constexpr bool isEmpty() const { return rawValue == 0; }
    constexpr bool contains(Options other) const { return (rawValue & other.rawValue) == other.rawValue; }

    constexpr Options union_(Options other) const { return Options(rawValue | other.rawValue); }
    constexpr Options intersection(Options other) const { return Options(rawValue & other.rawValue); }
    constexpr Options symmetricDifference(Options other) const { return Options(rawValue ^ other.rawValue); }
    constexpr Options subtracting(Options other) const { return Options(rawValue & ~other.rawValue); }
    constexpr void formUnion(Options other) { rawValue |= other.rawValue; }
    constexpr void formIntersection(Options other) { rawValue &= other.rawValue; }
    constexpr void formSymmetricDifference(Options other) { rawValue ^= other.rawValue; }
    constexpr void subtract(Options other) { rawValue &= ~other.rawValue; }

    // Inserts the member; tells whether it was absent, and the member now in the set.
    struct InsertResult;
    constexpr InsertResult insert(Options member);
    // Removes the member and gives what of it was in the set (empty when nothing was).
    constexpr Options remove(Options member) {
        Options removed = intersection(member);
        rawValue &= ~member.rawValue;
        return removed;
    }
    // Inserts the member and gives what of it was in the set before (empty when nothing was).
    constexpr Options update(Options member) {
        Options previous = intersection(member);
        rawValue |= member.rawValue;
        return previous;
    }

    constexpr bool isSubset(Options other) const { return subtracting(other).isEmpty(); }
    constexpr bool isSuperset(Options other) const { return other.isSubset(*this); }
    constexpr bool isStrictSubset(Options other) const { return isSubset(other) && *this != other; }
    constexpr bool isStrictSuperset(Options other) const { return isSuperset(other) && *this != other; }
    constexpr bool isDisjoint(Options other) const { return intersection(other).isEmpty(); }

    friend constexpr bool operator==(Options, Options) = default;
};

struct Options::InsertResult {
    bool inserted;
    Options memberAfterInsert;
};

constexpr Options::InsertResult Options::insert(Options member) {
    bool absent = !contains(member);
    rawValue |= member.rawValue;
    return {absent, member};
}

inline constexpr Options Options::commandLineFollow{1};
inline constexpr Options Options::logical{2};
inline constexpr Options Options::noChangeDirectory{4};
inline constexpr Options Options::physical{16};
inline constexpr Options Options::seeDot{32};
inline constexpr Options Options::crossDevice{64};
inline constexpr Options Options::followRootSymlink{1};

} // namespace sweepkit
