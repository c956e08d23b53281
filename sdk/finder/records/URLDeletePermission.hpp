#pragma once

#include "platform/fs/URL.hpp"

namespace sweepkit {

// Whether the process's real user may delete the entry at `url`: its parent must be writable, and
// a sticky parent also needs root or the entry's owner. Never fails; anything unknown reads as no.
bool hasDeletePermission(const velmor::URL& url);

} // namespace sweepkit
