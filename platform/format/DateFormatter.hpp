#pragma once

#include "platform/coding/Value.hpp"

#include <chrono>
#include <string>

namespace velmor {

// Dates for people: the numeric short date and the short time (hours and minutes) of the current
// locale, in local time.
struct DateFormatter {
    std::string string(coding::Date date) const;
    std::string string(std::chrono::system_clock::time_point date) const;
};

// The shortest text that reads back as the same double, always with a fractional part or an
// exponent: 3600 gives "3600.0", 0.25 gives "0.25", 1e16 gives "1e+16".
std::string shortestDescription(double value);

} // namespace velmor
