#pragma once

#include "platform/fs/Stat.hpp"
#include "platform/fs/URL.hpp"
#include "platform/progress/Progress.hpp"
#include "sdk/finder/cleaning/CleaningEntry.hpp"
#include "sdk/finder/cleaning/CleaningResult.hpp"

#include <cstdint>
#include <string>
#include <vector>

namespace sweepkit {

// The deletion routine behind `FileCleaner`, and what it counts with. (Unrelated to the
// application's cleaner.)
struct Cleaner {
    // Adds up the allocated size of every entry removed, everything inside a removed folder included,
    // counting a file only with its last name and stopping at the largest count.
    class DeletedSizeAccumulator {
    public:
        void didRemove(const std::string& path, const velmor::Stat& stat);
        std::uint64_t reclaimedBytes() const { return reclaimedBytes_; }

    private:
        std::uint64_t reclaimedBytes_ = 0;
    };

    // Deletes `entries` (in the given order, or deepest path first when `removeEmptiedFolders` is
    // set), then, with that flag, removes the folders the deletion left holding nothing but hidden
    // files, strictly below one of `roots`. Checks `progress` for cancellation before each step and
    // counts one unit per entry tried. An entry that is already gone is no error.
    //
    // Each root is opened once, as given; an entry below a root is reached from it without
    // following any link (the deepest root that holds it). Entries and roots must be absolute:
    // a relative entry fails, a relative root is ignored.
    static CleaningResult removeItems(const std::vector<velmor::URL>& entries,
                                      const std::vector<velmor::URL>& roots, bool removeEmptiedFolders,
                                      velmor::Progress& progress);
    // The same, for entries that must still be the entries a scan found.
    static CleaningResult removeItems(const std::vector<CleaningEntry>& entries,
                                      const std::vector<velmor::URL>& roots, bool removeEmptiedFolders,
                                      velmor::Progress& progress);
};

} // namespace sweepkit
