#pragma once

#include "platform/fs/Stat.hpp"

namespace sweepkit {

// Values computed from a stat record for the stat criteria, in seconds. The times are seconds since
// 1970 with their fraction; the ages are the current time, read at every call, minus that time.
double timeInterval(const velmor::Timespec& time);
double modificationTimeInterval(const velmor::Stat& stat);
double statusChangeTimeInterval(const velmor::Stat& stat);
double accessTimeInterval(const velmor::Stat& stat);
double secondsSinceModification(const velmor::Stat& stat);
double secondsSinceStatusChange(const velmor::Stat& stat);
double secondsSinceAccess(const velmor::Stat& stat);

} // namespace sweepkit
