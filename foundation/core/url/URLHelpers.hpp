#pragma once

#include "platform/fs/URL.hpp"

namespace velmor {

// Questions file-handling code often asks of a URL. Each reads the file system afresh and never
// throws: a failure to look counts as "no".

// Whether something is reachable at the URL, following symbolic links (a dangling link is not).
// False for an empty URL, the form a URL that names no file takes.
bool exists(const URL& url);

// Whether the URL is the root of a mounted volume in this process's mount table. A trailing slash
// makes no difference.
bool isVolume(const URL& url);

// What to show a user for the URL: the outermost package (an application, say) that holds it or is
// it, else the URL itself rebuilt from its path components.
URL userFacingUrl(const URL& url);

} // namespace velmor
