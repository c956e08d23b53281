#pragma once

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
class FileSystemIterator : public BaseFilesIterator {
public:
    // Never fails: a root that cannot be opened gives a walk with no events.
    FileSystemIterator(const velmor::URL& url, Options options, std::uint32_t user,
                       std::vector<std::uint32_t> groups);
    ~FileSystemIterator() override;

    std::optional<Event> next() override;
    // Throws `FSIteratorError::nothingToSkip` when no entered directory is pending, or a POSIX error
    // when fts refuses.
    void skip() override;

private:
    struct OpenDirectory {
        FTSENT* item;
        bool writePermission;
        bool stickyBitSet;
    };

    FTS* root_ = nullptr;
    FTSENT* currentItem_ = nullptr;
    bool started_ = false;
    bool finished_ = false;
    std::string rootPath_;
    std::vector<OpenDirectory> parentDirectoryStack_;
    std::uint32_t checkedDeletePermissionUser_;
    std::vector<std::uint32_t> checkedDeletePermissionUserGroups_;
};

// The process's supplementary group ids. Throws a POSIX error when they cannot be read.
std::vector<std::uint32_t> currentUserGroups();

} // namespace sweepkit
