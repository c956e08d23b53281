#pragma once

#include <string_view>

namespace velmor {

// Stops the process with `message` on standard error. Reserved for programming errors that must
// not go on silently (a continuation resumed twice, a queue waiting on itself).
[[noreturn]] void fatalError(std::string_view message) noexcept;

} // namespace velmor
