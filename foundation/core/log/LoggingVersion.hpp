#pragma once

#include "platform/bundle/Bundle.hpp"

#include <string>

namespace velmor {

// A short version text for log lines: "v<short version> (<build version>)", each part "N/A" when the
// bundle does not give it as text.
std::string loggingVersion(const Bundle& bundle);

} // namespace velmor
