#pragma once

#include <cstdint>
#include <string>

namespace velmor {

// Byte counts for people: decimal units (1 KB = 1000 bytes) in file style, the way sizes are shown
// everywhere in the application. KB show no fraction, MB one digit, larger units two, with
// trailing zeros dropped ("1.5 MB", "2 GB", "1.23 TB").
struct ByteCountFormatter {
    // Which generation of the platform's wording: the model's descriptions keep the classic "KB";
    // the interface shows sizes in the newer format style, which writes the kilo prefix as "kB".
    enum class Style { classic, formatStyle };

    Style style = Style::classic;
    // "Zero KB" (or "Zero kB") instead of "0 bytes".
    bool allowsNonnumericFormatting = true;
    // Appends the exact count, as in "1.5 MB (1,500,000 bytes)".
    bool includesActualByteCount = false;

    std::string string(std::int64_t byteCount) const;

    // The interface's sizes: the newer style, zero spelled out, no exact count.
    static ByteCountFormatter forInterface() { return {Style::formatStyle, true, false}; }
};

} // namespace velmor
