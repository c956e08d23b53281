#include "platform/format/ByteCountFormatter.hpp"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace velmor {

namespace {

std::string groupedDigits(std::uint64_t value) {
    std::string digits = std::to_string(value);
    std::string grouped;
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0) {
            grouped += ',';
        }
        grouped += digits[i];
    }
    return grouped;
}

std::string withoutTrailingZeros(std::string text) {
    if (text.find('.') == std::string::npos) {
        return text;
    }
    while (text.back() == '0') {
        text.pop_back();
    }
    if (text.back() == '.') {
        text.pop_back();
    }
    return text;
}

} // namespace

std::string ByteCountFormatter::string(std::int64_t byteCount) const {
    static constexpr const char* units[] = {"KB", "MB", "GB", "TB", "PB", "EB"};
    const char* kilo = style == Style::formatStyle ? "kB" : "KB";
    static constexpr int fractionDigits[] = {0, 1, 2, 2, 2, 2};

    const bool negative = byteCount < 0;
    const std::uint64_t magnitude =
        negative ? static_cast<std::uint64_t>(-(byteCount + 1)) + 1 : static_cast<std::uint64_t>(byteCount);
    std::string text;
    if (magnitude == 0 && allowsNonnumericFormatting) {
        return std::string("Zero ") + kilo;
    }
    if (magnitude < 1000) {
        text = std::to_string(magnitude) + (magnitude == 1 ? " byte" : " bytes");
    } else {
        double value = static_cast<double>(magnitude);
        int unit = -1;
        while (unit < 5 && value >= 1000) {
            value /= 1000;
            ++unit;
        }
        // Rounding can carry into the next unit ("999.96 MB" would print as "1000 MB").
        const double scale = std::pow(10.0, fractionDigits[unit]);
        if (std::round(value * scale) / scale >= 1000 && unit < 5) {
            value /= 1000;
            ++unit;
        }
        char buffer[64];
        std::snprintf(buffer, sizeof buffer, "%.*f", fractionDigits[unit], value);
        text = withoutTrailingZeros(buffer) + " " + (unit == 0 ? kilo : units[unit]);
    }
    if (negative) {
        text = "-" + text;
    }
    if (includesActualByteCount && magnitude >= 1000) {
        text += " (" + std::string(negative ? "-" : "") + groupedDigits(magnitude) + " bytes)";
    }
    return text;
}

} // namespace velmor
