#pragma once

#include "app/model/nodes/CleanableNode.hpp"
#include "platform/error/Error.hpp"

#include <variant>

namespace marrowdale {

// The outcome of a category's scan: its top-level rows, or the error that ended it.
using CategoryResult = std::variant<CleanableNodes, velmor::Error>;

} // namespace marrowdale
