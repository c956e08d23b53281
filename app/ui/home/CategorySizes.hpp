#pragma once

#include "app/model/cleaner/Cleaner.hpp"

#include <cstdint>
#include <map>
#include <optional>

namespace marrowdale {

using SizesByCategory = std::map<Category, std::int64_t>;

// The bytes found per category of the results on show (a failed category counts 0); none before
// results exist. Sums saturate.
std::optional<SizesByCategory> categorySizes(const Cleaner::State& state);
std::int64_t totalSize(const SizesByCategory& sizes);

// The width of a category's bar in a tile `width` points wide: its share of all that was found,
// at least the minimum. With nothing found anywhere every bar takes the minimum, so the bar never
// gets a width that is not a number.
double categoryBarWidth(double width, std::int64_t size, std::int64_t total);

} // namespace marrowdale
