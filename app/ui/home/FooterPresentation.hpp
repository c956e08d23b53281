#pragma once

#include <QString>

#include <cstdint>
#include <optional>
#include <string>

namespace marrowdale {

// What the footer shows for the volume figures it is given.
struct FooterPresentation {
    // The volume's name as drawn, a single blank when it has none.
    QString name;
    // The total capacity, formatted, when known; the separator shows with it.
    std::optional<QString> total;
    // The graph's figures, or none for the placeholder.
    bool showsGraph = false;
    std::int64_t totalCapacity = 0;
    std::int64_t availableCapacity = 0;
};

// The placeholder stands in unless both figures are known and make sense together.
FooterPresentation presentFooter(const std::optional<std::string>& name,
                                 std::optional<std::int64_t> totalCapacity,
                                 std::optional<std::int64_t> availableCapacity);

} // namespace marrowdale
