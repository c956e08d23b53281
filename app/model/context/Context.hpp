#pragma once

#include "app/model/cleaner/Cleaner.hpp"
#include "app/model/context/UpdatingSystem.hpp"
#include "foundation/core/log/Logger.hpp"

#include <memory>

namespace marrowdale {

// What the application's entry wires together once at start-up and hands to its views. Copies
// share the same cleaner.
struct Context {
    velmor::LoggerFactory loggerFactory;
    std::shared_ptr<Cleaner> cleaner;
    std::shared_ptr<UpdatingSystem> updatingSystem;

    // The start-up wiring: a system-log logger per category, one cleaner made with that factory,
    // and the interface's update facade (none when updates are not configured). On the main thread.
    static Context makeForApplication(std::shared_ptr<UpdatingSystem> updatingSystem);
};

} // namespace marrowdale
