#pragma once

#include "foundation/core/process/NSTask.hpp"
#include "platform/error/Error.hpp"

#include <string>

namespace velmor {

// Our stand-in for the system's two disk-image tools, `velmor-diskimage`: it takes their command
// lines and answers with their property lists. The operations run it wherever they would run either.
struct DiskImageTool {
    static constexpr const char* environmentVariable = "VELMOR_DISKIMAGE_TOOL";
    static constexpr const char* name = "velmor-diskimage";

    // Where `VELMOR_DISKIMAGE_TOOL` points, else the tool beside this library's file.
    static std::string path();
};

// The tool's output as text when it is valid UTF-8, else empty.
std::string utf8OrEmpty(const NSTask::Bytes& bytes);

// Whether a tool run ended at its time-out rather than with a status or another error.
bool isTimeout(const Error& error);

// After a time-out: the tool and everything it started go, and the tool is reaped before this
// returns.
void killTimedOutTool(const NSTask::SynchronousRunResult& run);

// After a run that failed: on a time-out the tool is killed and `DMGMount::DMGMountError::timeout`
// thrown; any other error is thrown as it is.
[[noreturn]] void throwRunFailure(const NSTask::SynchronousRunResult& run);

} // namespace velmor
