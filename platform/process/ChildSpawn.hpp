#pragma once

#include <array>
#include <sys/types.h>

namespace velmor::detail {

// What a new program finds on one of its standard streams.
struct ChildStream {
    enum class Kind { inherited, descriptor, nullDevice };
    Kind kind = Kind::inherited;
    // For `descriptor`: the parent's descriptor that the program gets in its place.
    int descriptor = -1;
};

// A program to start and how: path, argument and environment lists ending in a null pointer,
// and standard input, output and error in that order.
struct ChildSpawnRequest {
    const char* path = nullptr;
    char* const* arguments = nullptr;
    char* const* environment = nullptr;
    std::array<ChildStream, 3> streams;
};

// Starts the program in a process group of its own, with no signal blocked, caught signals and
// SIGPIPE at their defaults (other ignored signals stay ignored), and returns once it runs the
// program or has failed to. The result is 0 with `child` set, or the POSIX error that kept it
// from running (a child that failed is reaped).
//
// The child shares the caller's memory until it runs the program, on a stack the calling thread
// keeps for its next spawn: nothing is mapped or unmapped per spawn, so the other threads of a
// busy process are not interrupted to flush their address translations, as they are when a child
// stack is mapped and unmapped each time.
int spawnChild(const ChildSpawnRequest& request, pid_t& child);

} // namespace velmor::detail
