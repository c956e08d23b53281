#include "app/ui/home/FooterPresentation.hpp"

#include "app/ui/home/DiskSpaceGraph.hpp"
#include "app/ui/text/DisplayText.hpp"
#include "platform/format/ByteCountFormatter.hpp"

namespace marrowdale {

FooterPresentation presentFooter(const std::optional<std::string>& name,
                                 std::optional<std::int64_t> totalCapacity,
                                 std::optional<std::int64_t> availableCapacity) {
    FooterPresentation shown;
    shown.name = name ? displayText(*name) : QStringLiteral(" ");
    if (totalCapacity) {
        shown.total =
            QString::fromStdString(velmor::ByteCountFormatter::forInterface().string(*totalCapacity));
    }
    if (totalCapacity && availableCapacity && diskFiguresUsable(*totalCapacity, *availableCapacity)) {
        shown.showsGraph = true;
        shown.totalCapacity = *totalCapacity;
        shown.availableCapacity = *availableCapacity;
    }
    return shown;
}

} // namespace marrowdale
