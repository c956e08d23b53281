#pragma once

#include "platform/fs/Descriptor.hpp"
#include "platform/fs/Stat.hpp"
#include "platform/fs/URL.hpp"
#include "sdk/filesystem/BaseFilesIterator.hpp"
#include "sdk/filesystem/Options.hpp"

#include <cstdint>
#include <fts.h>
#include <string>
#include <vector>

namespace sweepkit {

// Walks one root depth-first with fts and tells, for every entry, whether the given user may
// delete it. The permission comes from the parent directory cached when the walk entered it, so
// the walk costs no system call per entry beyond what fts itself does. It never changes the
// working directory, whatever the options say, so several walks can run side by side in one process;
// an entry whose path is longer than the system allows is reported with ENAMETOOLONG.
//
// A physical walk reads each entry's record itself, relative to a descriptor of its folder, instead
// of letting fts resolve every entry's whole path: the records then also hold the birth time.
class FileSystemIterator : public BaseFilesIterator {
public:
    // Never fails: a root that cannot be opened gives a walk with no events.
    FileSystemIterator(const velmor::URL& url, Options options, std::uint32_t user,
                       std::vector<std::uint32_t> groups);
    ~FileSystemIterator() override;

    std::optional<Event> next() override;
    bool advance(std::optional<Event>& event) override;
    // Throws `FSIteratorError::nothingToSkip` when no entered directory is pending, or a POSIX error
    // when fts refuses.
    void skip() override;
    // True for the entries whose records a physical walk read itself, a root it followed excepted.
    bool lastRecordIsCurrent() const override { return lastRecordIsCurrent_; }

private:
    struct OpenDirectory {
        FTSENT* item;
        bool writePermission;
        bool stickyBitSet;
        velmor::Stat stat;
        // The folder itself, for reading its entries' records; none when it could not be opened.
        velmor::Descriptor descriptor;
    };

    // Reads the record of an entry fts did not keep one for; false with errno set when it cannot.
    // An entered folder is opened on the way, into `descriptor`.
    bool readRecord(const FTSENT& entry, velmor::Stat& record, velmor::Descriptor* descriptor) const;

    FTS* root_ = nullptr;
    FTSENT* currentItem_ = nullptr;
    bool started_ = false;
    bool finished_ = false;
    // Whether fts leaves the records to this iterator (physical walks).
    bool readsRecords_ = false;
    bool followsRoot_ = false;
    bool seesDots_ = false;
    bool lastRecordIsCurrent_ = false;
    // An entered folder whose record could not be read: reported, skipped, its leaving not reported.
    FTSENT* droppedDirectory_ = nullptr;
    velmor::Stat record_;
    std::string rootPath_;
    std::vector<OpenDirectory> parentDirectoryStack_;
    std::uint32_t checkedDeletePermissionUser_;
    std::vector<std::uint32_t> checkedDeletePermissionUserGroups_;
};

// The process's supplementary group ids. Throws a POSIX error when they cannot be read.
std::vector<std::uint32_t> currentUserGroups();

} // namespace sweepkit
