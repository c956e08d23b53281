#pragma once

#include "platform/error/Error.hpp"
#include "platform/fs/Stat.hpp"

#include <functional>
#include <optional>
#include <string>
#include <sys/types.h>

namespace velmor {

// Permanent removal of a file-system entry and, for a folder, of everything in it.
//
// Symbolic links are never followed, at any depth: a link is removed as a link, and folders are
// opened with O_NOFOLLOW relative to their parent's descriptor, so a folder swapped for a link
// while the removal runs is removed as that link and its target is left alone. Nor does removal
// cross into another file system mounted below the entry.
class FileRemover {
public:
    // Called after each entry is removed, with its path and the status record it had, so callers
    // count only what was really freed.
    using DidRemove = std::function<void(const std::string& path, const Stat& stat)>;

    // File-operation error codes (in `Error::cocoaDomain`).
    static constexpr std::int64_t noSuchFileCode = 4;
    static constexpr std::int64_t writeUnknownCode = 512;
    static constexpr std::int64_t writeNoPermissionCode = 513;
    static constexpr std::int64_t writeVolumeReadOnlyCode = 642;

    explicit FileRemover(DidRemove didRemove = {}) : didRemove_(std::move(didRemove)) {}

    // Removes what it can. Returns the first failure: a file-operation error whose underlying error
    // is the POSIX cause and whose file path is the entry that could not be removed. An entry that
    // does not exist fails with `noSuchFileCode` over ENOENT.
    std::optional<Error> removeItem(const std::string& path) const;

    // The file-operation error for a failed system call on `path`.
    static Error fileOperationError(int posixCode, const std::string& path);

private:
    struct Removal {
        dev_t device = 0;
        std::optional<Error> firstFailure;
    };
    static void fail(Removal& removal, int posixCode, const std::string& path, bool isTop);
    void removeContents(int directory, const std::string& directoryPath, Removal& removal) const;
    void removeEntry(int parent, const std::string& name, const std::string& path, Removal& removal,
                     bool isTop) const;

    DidRemove didRemove_;
};

} // namespace velmor
