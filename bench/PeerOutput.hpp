#pragma once

#include "bench/TemporaryFolder.hpp"

#include <cstdlib>
#include <string>
#include <string_view>
#include <unistd.h>

namespace bench {

// A folder of the benchmark's own for what peer tools write. A peer's output is always a file made
// here, never a path shared with the rest of the machine: some tools, run as root, rename an
// existing output file aside and make a regular file in its place, which done to a device would
// turn it into a plain file for every other program.
class PeerOutput {
public:
    const std::string& folder() const { return folder_.path(); }
    // The path of the output file `name` in the folder.
    std::string file(const std::string& name) const { return folder_.file(name); }

private:
    TemporaryFolder folder_{"velmor-bench-output"};
};

// Whether the program `tool` is on the search path, looked up here rather than by a shell command
// whose output would have to go somewhere.
inline bool onPath(const std::string& tool) {
    const char* path = std::getenv("PATH");
    std::string_view folders = path != nullptr ? path : "/usr/bin:/bin";
    while (true) {
        const std::size_t end = folders.find(':');
        const std::string_view folder = folders.substr(0, end);
        if (!folder.empty() && ::access((std::string(folder) + "/" + tool).c_str(), X_OK) == 0) {
            return true;
        }
        if (end == std::string_view::npos) {
            return false;
        }
        folders.remove_prefix(end + 1);
    }
}

// The rmlint run of the duplicates benchmark over `root`: its summary goes to standard output, and
// that into a file of `output`, so that rmlint is given no output file of its own.
inline std::string rmlintCommand(const std::string& root, const PeerOutput& output) {
    return "rmlint -T df -r --without-fiemap -o summary " + root + " > " + output.file("rmlint-summary");
}

} // namespace bench
