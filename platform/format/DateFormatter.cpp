#include "platform/format/DateFormatter.hpp"

#include <charconv>
#include <cmath>
#include <ctime>
#include <langinfo.h>
#include <locale.h>

namespace velmor {

std::string DateFormatter::string(coding::Date date) const {
    const double unixSeconds = date.secondsSinceReferenceDate + coding::Date::unixEpochOffset;
    const std::time_t seconds = static_cast<std::time_t>(std::floor(unixSeconds));
    std::tm local{};
    ::localtime_r(&seconds, &local);

    // The user's locale for LC_TIME, whatever the process's global locale is.
    locale_t userLocale = ::newlocale(LC_TIME_MASK, "", static_cast<locale_t>(0));
    if (userLocale == static_cast<locale_t>(0)) {
        userLocale = ::newlocale(LC_TIME_MASK, "C", static_cast<locale_t>(0));
    }
    std::string format = ::nl_langinfo_l(D_FMT, userLocale);
    format += " %H:%M";
    char buffer[128];
    std::size_t length = ::strftime_l(buffer, sizeof buffer, format.c_str(), &local, userLocale);
    ::freelocale(userLocale);
    return std::string(buffer, length);
}

std::string DateFormatter::string(std::chrono::system_clock::time_point date) const {
    return string(coding::Date::fromTimePoint(date));
}

std::string shortestDescription(double value) {
    if (std::isnan(value)) {
        return "nan";
    }
    if (std::isinf(value)) {
        return value < 0 ? "-inf" : "inf";
    }
    char buffer[64];
    const double magnitude = std::fabs(value);
    const bool positional = magnitude == 0 || (magnitude >= 1e-4 && magnitude < 9007199254740992.0);
    auto result = std::to_chars(buffer, buffer + sizeof buffer, value,
                                positional ? std::chars_format::fixed : std::chars_format::scientific);
    std::string text(buffer, result.ptr);
    if (positional && text.find('.') == std::string::npos) {
        text += ".0";
    }
    return text;
}

} // namespace velmor
