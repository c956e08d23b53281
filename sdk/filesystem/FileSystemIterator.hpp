#pragma once

#include "platform/fs/Descriptor.hpp"
#include "platform/fs/Stat.hpp"
#include "platform/fs/URL.hpp"
#include "sdk/filesystem/BaseFilesIterator.hpp"
#include "sdk/filesystem/Options.hpp"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace sweepkit {

// Walks one root depth-first and tells, for every entry, whether the given user may delete it. It
// gives fts's events in fts's order (a folder, its entries in listing order, the folder again when
// left), but walks by descriptors: every folder is entered through a descriptor opened from its
// parent's, without following a link, and every entry's record is read relative to its folder. A
// folder swapped for a link at any depth is therefore never entered, and no entry outside the root
// is reported under a path inside it. The walk never changes the working directory, so several walks
// can run side by side in one process. An entry whose path is longer than the system allows is
// reported with ENAMETOOLONG and not entered.
//
// Only the shallowest folders keep their descriptors while the walk is below them, a small share of
// the process's descriptor limit; a deeper folder is opened again when the walk comes back to it,
// through ".." of the folder just left, checked against the folder entered. Only where ".." no longer
// leads there is it opened by its path, one checked step at a time from the nearest folder held. When the process runs out of descriptors the held ones are given back
// and the open is tried again before a folder is reported unreadable.
class FileSystemIterator : public BaseFilesIterator {
public:
    // Never fails: a root that cannot be read gives a walk with its one error event, an empty path
    // one with no events.
    FileSystemIterator(const velmor::URL& url, Options options, std::uint32_t user,
                       std::vector<std::uint32_t> groups);
    ~FileSystemIterator() override;

    std::optional<Event> next() override;
    bool advance(std::optional<Event>& event) override;
    // The walk goes no further into the folder of the last `enterDirectory`: none of its entries
    // when it comes right after, the entries not reported yet when some of them came since; its
    // `leaveDirectory` is next. Throws `FSIteratorError::nothingToSkip` when that folder was skipped
    // or left already, or no folder was entered.
    void skip() override;
    // True for the entries whose records were read just now without following a link.
    bool lastRecordIsCurrent() const override { return lastRecordIsCurrent_; }

    // How many folder descriptors a walk keeps while it is below them, for a process whose soft
    // descriptor limit is `limit`.
    static std::size_t heldFolderBound(std::uint64_t limit);

private:
    struct Listed {
        std::uint32_t nameOffset;
        std::uint32_t nameLength;
        unsigned char type;
    };
    // A folder the walk is in. Frames are kept for reuse when the walk leaves them, so a walk's
    // listings reuse the memory of the folders before them.
    struct Frame {
        // The folder's path is the walk's path buffer up to `pathLength`; its own name starts at
        // `nameOffset` there.
        std::size_t pathLength = 0;
        std::size_t nameOffset = 0;
        velmor::Stat stat;
        dev_t device = 0;
        ino_t inode = 0;
        bool writePermission = false;
        bool stickyBitSet = false;
        // Reported as entered; its listing is read at the next step.
        bool pending = false;
        bool skipRequested = false;
        // Why the folder could not be opened for listing, reported at the next step.
        int unreadable = 0;
        velmor::Descriptor descriptor;
        std::string names;
        std::vector<Listed> listing;
        std::size_t nextEntry = 0;
    };

    // What one step reports: an fts kind, the record it carries and the failure.
    struct Step {
        int info;
        const velmor::Stat* record;
        int failure;
        bool permission;
    };

    Step startAtRoot();
    // Reads the listing of a folder just reported as entered; what to report instead of its entries
    // when it is skipped, left on its device or cannot be listed.
    std::optional<Step> listPendingFolder(Frame& frame);
    Step visitEntry(std::size_t parentIndex, const Listed& entry);
    Step leaveFolder();
    // Reads a folder's whole listing into its frame; false with errno set when it cannot.
    bool readListing(Frame& frame);
    // Opens the folder `name` of `parent` for listing, giving back held descriptors and trying again
    // when the process has none left. -1 with errno set when it cannot.
    int openFolder(int parent, const char* name, bool follow);
    // The descriptor of the frame at `index`, opened again from its nearest held ancestor when it was
    // given back; -1 with errno set when the folder is no longer the one the walk entered.
    int descriptorOf(std::size_t index);
    // Closes every held folder descriptor but `keep`.
    void giveBackHeldDescriptors(int keep);
    // Makes the frame for the folder just opened at the walk's current path.
    void pushFolder(std::size_t nameOffset, velmor::Descriptor descriptor, const struct ::statx& status,
                    int unreadable);
    // For an entry `name` of `folder` that could not be followed with `followError`: whether it is a
    // link that cannot be followed, with its own record made the walk's record when it is.
    bool readUnfollowedLink(int folder, const char* name, int followError);
    bool isCycle(dev_t device, ino_t inode) const;
    void setRecord(const struct ::statx& status, bool current);

    bool follows_ = false;
    bool followsRoot_ = false;
    bool seesDots_ = false;
    bool staysOnDevice_ = false;
    bool started_ = false;
    bool finished_ = false;
    bool lastRecordIsCurrent_ = false;
    // The top frame is the folder of the last `enterDirectory`, neither skipped nor left since.
    bool skippable_ = false;
    dev_t rootDevice_ = 0;
    std::size_t heldBound_ = 0;
    std::string rootPath_;
    std::string path_;
    velmor::Stat record_;
    std::vector<Frame> frames_;
    std::size_t depth_ = 0;
    std::vector<char> listingBuffer_;
    std::uint32_t checkedDeletePermissionUser_;
    std::vector<std::uint32_t> checkedDeletePermissionUserGroups_;
};

// The process's supplementary group ids and its effective group id, each once. Throws a POSIX error
// when they cannot be read.
std::vector<std::uint32_t> currentUserGroups();

} // namespace sweepkit
