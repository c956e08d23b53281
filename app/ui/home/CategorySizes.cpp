#include "app/ui/home/CategorySizes.hpp"

#include "sdk/finder/records/SaturatingSum.hpp"

#include <algorithm>
#include <variant>

namespace marrowdale {
namespace {

constexpr double minimumBarWidth = 15;

} // namespace

std::optional<SizesByCategory> categorySizes(const Cleaner::State& state) {
    if (state.kind != Cleaner::State::Kind::scanned && state.kind != Cleaner::State::Kind::cleaning) {
        return std::nullopt;
    }
    SizesByCategory sizes;
    for (const auto& [category, result] : state.results) {
        std::int64_t sum = 0;
        if (const auto* nodes = std::get_if<CleanableNodes>(&result)) {
            for (const auto& node : *nodes) {
                sum = sweepkit::saturatingAdd(sum, node->size());
            }
        }
        sizes[category] = sum;
    }
    return sizes;
}

std::int64_t totalSize(const SizesByCategory& sizes) {
    std::int64_t total = 0;
    for (const auto& [category, size] : sizes) {
        total = sweepkit::saturatingAdd(total, size);
    }
    return total;
}

double categoryBarWidth(double width, std::int64_t size, std::int64_t total) {
    if (total <= 0) {
        return minimumBarWidth;
    }
    return std::max(minimumBarWidth, width / static_cast<double>(total) * static_cast<double>(size));
}

} // namespace marrowdale
