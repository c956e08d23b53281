#include "foundation/services/diskimage/DiskImageTool.hpp"

#include "foundation/services/diskimage/DMGMount.hpp"
#include "platform/text/UTF8.hpp"

#include <cstdlib>
#include <dlfcn.h>
#include <string_view>

namespace velmor {

std::string DiskImageTool::path() {
    if (const char* chosen = ::secure_getenv(environmentVariable); chosen != nullptr && *chosen != '\0') {
        return chosen;
    }
    // The build and the install put the tool in the folder of the library that runs it.
    Dl_info info{};
    if (::dladdr(reinterpret_cast<void*>(&DiskImageTool::path), &info) != 0 && info.dli_fname != nullptr) {
        std::string library = info.dli_fname;
        const auto slash = library.find_last_of('/');
        if (slash != std::string::npos) {
            return library.substr(0, slash + 1) + name;
        }
    }
    return name;
}

std::string utf8OrEmpty(const NSTask::Bytes& bytes) {
    std::string text(bytes.begin(), bytes.end());
    return isValidUTF8(text) ? text : std::string();
}

bool isTimeout(const Error& error) {
    return error == TypedError<NSTask::SynchronousRunResult::RunError>(NSTask::SynchronousRunResult::RunError::timeout)
                        .toError();
}

void killTimedOutTool(const NSTask::SynchronousRunResult& run) {
    const auto& process = run.internalProcess();
    if (!process) {
        return;
    }
    process->terminate();
    if (process->processIdentifier() > 0) {
        process->kill();
    }
    process->waitUntilExit();
}

void throwRunFailure(const NSTask::SynchronousRunResult& run) {
    const Error error = run.result().error();
    if (isTimeout(error)) {
        killTimedOutTool(run);
        throw TypedError<DMGMount::DMGMountError>(DMGMount::DMGMountError::timeout);
    }
    throw ErrorException(error);
}

} // namespace velmor
