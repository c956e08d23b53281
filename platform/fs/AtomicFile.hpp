#pragma once

#include "platform/fs/Descriptor.hpp"

#include <chrono>
#include <string>
#include <string_view>
#include <sys/types.h>

namespace velmor {

// Replaces the file `name` in a folder with `contents` so that readers, and the file after a crash
// or a full disk, see either the old content whole or the new content whole: the bytes go to a new
// temporary file in the same folder, which is flushed to disk and renamed over the target, and the
// folder is flushed so the rename lasts. The temporary is written without a name where the file
// system allows (O_TMPFILE) and named only just before the rename, so a writer killed midway leaves
// nothing behind; each write also removes the temporaries of `name` that writers which died left.
// Temporaries carry a marker of their own, and nothing else in the folder is ever touched. The
// temporary's name fits wherever `name` does.
//
// The new file is created with `mode` less the umask (and any default ACL), as a plain write would
// create it. A symbolic link at `name` is replaced, not followed.
//
// With `ModeRule::exact` the file gets `mode` as given, whatever the umask: for files that other
// users must be able to read.
//
// On failure nothing is left behind and `ErrorException` is thrown with a POSIX error carrying the
// target's path. `name` must be a plain file name (see `isPlainFileName`).
enum class ModeRule { lessUmask, exact };

void replaceFileAtomically(const std::string& folderPath, const std::string& name, std::string_view contents,
                           mode_t mode = 0666, ModeRule rule = ModeRule::lessUmask);

// The same in a folder the caller already holds open (to keep a lock on it, say); `folderPath` only
// names it in errors.
void replaceFileAtomically(int folderDescriptor, const std::string& folderPath, const std::string& name,
                           std::string_view contents, mode_t mode = 0666,
                           ModeRule rule = ModeRule::lessUmask);

// Serialises the writers of the file `name` in a folder across processes: an exclusive lock on a
// lock file beside it, "." + `name` + ".velmor-lock" (cut to fit as a temporary's name is), held
// until the returned descriptor closes. The lock is not on the file itself, which a write replaces
// by renaming, nor on the folder: flock needs no more than an open descriptor, so any user who can
// open the folder could hold the writers off. The lock file gets `mode` exactly, so only the users
// it names can open it; one open to others that this process cannot change is refused.
//
// A holder is waited for at most `patience`. Then, or when the lock file cannot be had, an
// `ErrorException` is thrown whose error names the file `folderPath`/`name`.
inline constexpr std::chrono::milliseconds writerLockPatience{3000};
Descriptor lockWriters(int folderDescriptor, const std::string& folderPath, const std::string& name,
                       mode_t mode = 0600, std::chrono::milliseconds patience = writerLockPatience);

// For tests: whether writes may use unnamed temporary files where the file system has them (the
// default), or must take the path for file systems without them.
void allowUnnamedTemporaryFiles(bool allowed);

} // namespace velmor
