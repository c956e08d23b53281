#pragma once

#include <string>
#include <vector>

namespace velmor {

// Runs a tool to its end and collects what it wrote to standard output. Standard input reads
// nothing; standard error is the caller's.
struct Process {
    struct Result {
        // The exit status, or 128 plus the signal that ended the tool.
        int terminationStatus = 0;
        std::string standardOutput;
    };

    // Throws `ErrorException` with a file error (no such file, no permission, ...) over the POSIX
    // cause when the tool cannot be started.
    static Result run(const std::string& executablePath, const std::vector<std::string>& arguments);
};

} // namespace velmor
