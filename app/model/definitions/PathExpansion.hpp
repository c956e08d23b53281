#pragma once

#include "app/model/definitions/FileFinderCategory.hpp"
#include "platform/error/Error.hpp"
#include "platform/fs/URL.hpp"

#include <optional>
#include <string>
#include <vector>

namespace marrowdale {

enum class HomeDirectoryError { failedToGetHomeDirectory };

// The failure of a search path that is not absolute once "~" is expanded ("", "Documents", "./x",
// "../x"): it would search, and let clean, wherever the working directory happens to be.
constexpr const char* searchPathErrorDomain = "Marrowdale.SearchPathError";
bool isSearchPathError(const velmor::Error& error);

// The real user's home folder from the password database; the environment's HOME is not consulted,
// so a changed environment cannot move where the cleaner looks.
std::optional<velmor::URL> realHomeDirectory();

// A file URL for `path` with every "~" in it, wherever it stands, replaced by the real home folder.
// Throws `HomeDirectoryError::failedToGetHomeDirectory`.
velmor::URL expandingTildeWithRealHome(const std::string& path);

// The definition's search roots, one per path, in order. Main thread only: a caller elsewhere
// hops there first. Throws what expansion throws, and an `ErrorException` in
// `searchPathErrorDomain` when a path is not absolute after expansion.
std::vector<velmor::URL> findURLs(const FileFinderCategory& category);

} // namespace marrowdale

template <> struct velmor::ErrorDomain<marrowdale::HomeDirectoryError> {
    static constexpr const char* value = "Marrowdale.HomeDirectoryError";
};
