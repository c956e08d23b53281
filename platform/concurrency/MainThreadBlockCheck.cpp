#include "platform/concurrency/MainThreadBlockCheck.hpp"

#include "platform/concurrency/MainActor.hpp"
#include "platform/error/FatalError.hpp"
#include "platform/log/OSLog.hpp"

#include <mutex>
#include <set>
#include <string>

namespace velmor::detail {

void checkNotBlockingMain(const char* what) {
    if (!MainActor::isMainThread()) {
        return;
    }
#ifndef NDEBUG
    fatalError(std::string(what) + " would block the main thread");
#else
    reportBlockingMainWait(what);
#endif
}

void reportBlockingMainWait(const char* what) {
    static std::mutex mutex;
    static auto* reported = new std::set<std::string>();
    {
        std::lock_guard lock(mutex);
        if (!reported->insert(what).second) {
            return;
        }
    }
    log::OSLog("com.velmor.platform", "concurrency")
        .write(log::LogType::error, std::string("The main thread blocks in ") + what +
                                        ": the window does not respond until it returns");
}

} // namespace velmor::detail
