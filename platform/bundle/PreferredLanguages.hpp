#pragma once

#include <string>
#include <vector>

namespace velmor {

// The languages the user reads, most wanted first, as gettext finds them: each entry of the
// colon-separated LANGUAGE, then the locale of the first of LC_ALL, LC_MESSAGES and LANG that is
// set. A locale gives its language with and without the region ("de_DE.UTF-8" gives "de_DE", then
// "de"); "C" and "POSIX" name no language. Each language appears once.
std::vector<std::string> preferredLanguages();

} // namespace velmor
