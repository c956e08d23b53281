#include "sdk/finder/criteria/FileMatchingCriterion.hpp"

#include <charconv>

namespace sweepkit {

std::string describe(const FileMatchingCriteria& criteria) {
    std::string text = "[";
    for (const auto& part : criteria) {
        if (text.size() > 1) {
            text += ", ";
        }
        text += part->description();
    }
    return text + "]";
}

std::string describe(double value) {
    char buffer[32];
    auto end = std::to_chars(buffer, buffer + sizeof buffer, value).ptr;
    return std::string(buffer, end);
}

} // namespace sweepkit
