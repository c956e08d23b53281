#pragma once

#include <sys/resource.h>

namespace bench {

// The peak resident memory so far, in kilobytes, of the process (RUSAGE_SELF) or of its largest
// waited-for child (RUSAGE_CHILDREN).
inline long peakKilobytes(int who) {
    struct ::rusage usage {};
    ::getrusage(who, &usage);
    return usage.ru_maxrss;
}

} // namespace bench
