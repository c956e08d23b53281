#pragma once

#include <exception>
#include <string_view>
#include <utility>

namespace velmor {

// Reports on standard error an exception that escaped the work `kind` `label` names (for example
// "work of " and "velmor.task").
void reportUncaughtError(std::string_view kind, std::string_view label, const std::exception* error) noexcept;

// Runs `work` for a thread of the runtime, which has no caller to hand an error to: an exception
// that escapes is reported and goes no further.
template <typename F>
void runReportingUncaught(std::string_view kind, std::string_view label, F&& work) noexcept {
    try {
        std::forward<F>(work)();
    } catch (const std::exception& error) {
        reportUncaughtError(kind, label, &error);
    } catch (...) {
        reportUncaughtError(kind, label, nullptr);
    }
}

} // namespace velmor
