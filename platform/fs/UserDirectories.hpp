#pragma once

#include "platform/fs/URL.hpp"

#include <optional>

namespace velmor {

// The user's folders, read afresh from the environment on each call. Each is an absolute path or
// nothing: a relative value is ignored (as the XDG base-directory rules say), and nothing is ever
// taken against the current directory.

// HOME when it is absolute, else `passwordDatabaseHomeDirectory`.
std::optional<URL> homeDirectory();
// The home folder of the real user as the password database records it, whatever HOME says.
std::optional<URL> passwordDatabaseHomeDirectory();
// XDG_CACHE_HOME when it is absolute, else ".cache" in the home folder.
std::optional<URL> userCachesDirectory();
// XDG_CONFIG_HOME when it is absolute, else ".config" in the home folder. It stands for the
// per-user Application Support and Preferences folders.
std::optional<URL> userConfigurationDirectory();
// The user's temporary folder: TMPDIR when it is absolute, else /tmp.
URL temporaryDirectory();

} // namespace velmor
