#pragma once

#include "platform/fs/URL.hpp"

namespace sweepkit::pipeline {

// Whether the entry itself (a link is not followed) is a folder; false when it cannot be read.
bool isDirectory(const velmor::URL& url);

// Whether the path lies in one of the platform's own program folders. Whole path components are
// compared: /usr/sbin/tool is such a location, /usr/sbinx/tool is not.
bool isSystemLocation(const velmor::URL& url);

} // namespace sweepkit::pipeline
