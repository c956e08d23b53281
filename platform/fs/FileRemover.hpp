#pragma once

#include "platform/error/Error.hpp"
#include "platform/fs/AnchoredFolder.hpp"
#include "platform/fs/FileIdentity.hpp"
#include "platform/fs/Stat.hpp"

#include <functional>
#include <optional>
#include <string>

namespace velmor {

// Permanent removal of a file-system entry and, for a folder, of everything in it.
//
// Symbolic links are never followed, at any depth: a link is removed as a link, and folders are
// opened with O_NOFOLLOW relative to their parent's descriptor, so a folder swapped for a link
// while the removal runs is removed as that link and its target is left alone. Nor does removal
// cross into another mount below the entry, even one of the same file system (a bind mount). The
// walk is iterative and keeps a bounded number of descriptors open, so any depth is handled.
class FileRemover {
public:
    // Called after each entry is removed, with its path and the status record read just before its
    // removal (its link count then tells whether it was the file's last name), so callers count only
    // what was really freed.
    using DidRemove = std::function<void(const std::string& path, const Stat& stat)>;

    // File-operation error codes (in `Error::cocoaDomain`).
    static constexpr std::int64_t noSuchFileCode = 4;
    static constexpr std::int64_t writeUnknownCode = 512;
    static constexpr std::int64_t writeNoPermissionCode = 513;
    static constexpr std::int64_t writeVolumeReadOnlyCode = 642;

    // The remover's own failures: an entry that is not the one the caller expected.
    static constexpr const char* errorDomain = "velmor.FileRemover";
    static constexpr std::int64_t changedEntryCode = 1;

    explicit FileRemover(DidRemove didRemove = {}) : didRemove_(std::move(didRemove)) {}

    // Removes what it can. Returns the first failure: a file-operation error whose underlying error
    // is the POSIX cause and whose file path is the entry that could not be removed. An entry that
    // does not exist fails with `noSuchFileCode` over ENOENT; a path that is not absolute, or that
    // ends in "." or "..", with EINVAL. When `expected` is given and the entry is another one, it
    // stays and the failure is `changedEntryError`.
    //
    // This form reaches the entry's parent folder by its path, following any links on the way.
    std::optional<Error> removeItem(const std::string& path,
                                    const std::optional<FileIdentity>& expected = std::nullopt) const;
    // This form reaches it from `root`, which must hold it, without following anything: a folder on
    // the way that is no longer a folder fails the entry with ENOTDIR. The identity is checked on
    // the same parent descriptor the removal then uses.
    std::optional<Error> removeItem(const AnchoredFolder& root, const std::string& path,
                                    const std::optional<FileIdentity>& expected = std::nullopt) const;

    enum class FolderOutcome { removed, kept, missing };
    struct FolderStep {
        FolderOutcome outcome = FolderOutcome::kept;
        std::optional<Error> error;
    };
    // Removes the folder at `path` (strictly below `root`) when all it holds are hidden regular
    // files (names beginning with a dot), which go with it. Anything else in it (a visible entry,
    // a hidden folder, link or special file) keeps it, as does something that arrives meanwhile or
    // a folder that cannot be listed or reached. Another mount is never removed.
    FolderStep removeFolderIfOnlyHiddenFiles(const AnchoredFolder& root, const std::string& path) const;

    // The file-operation error for a failed system call on `path`; its description names the
    // entry and the cause.
    static Error fileOperationError(int posixCode, const std::string& path);
    static Error changedEntryError(const std::string& path);

private:
    std::optional<Error> removeBelow(int parent, const std::string& name, const std::string& path,
                                     const std::optional<FileIdentity>& expected) const;

    DidRemove didRemove_;
};

} // namespace velmor
