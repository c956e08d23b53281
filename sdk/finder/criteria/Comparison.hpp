#pragma once

#include "platform/metadata/ComparisonPredicate.hpp"

#include <optional>

namespace sweepkit {

// `lhs OP rhs` for the six ordering operators (raw values 0 to 5), the entry's value always on the
// left. Nothing for any other operator.
template <typename T>
std::optional<bool> compare(const T& lhs, velmor::metadata::ComparisonOperator op, const T& rhs) {
    using Op = velmor::metadata::ComparisonOperator;
    switch (op) {
    case Op::lessThan:
        return lhs < rhs;
    case Op::lessThanOrEqualTo:
        return lhs <= rhs;
    case Op::greaterThan:
        return lhs > rhs;
    case Op::greaterThanOrEqualTo:
        return lhs >= rhs;
    case Op::equalTo:
        return lhs == rhs;
    case Op::notEqualTo:
        return lhs != rhs;
    default:
        return std::nullopt;
    }
}

// The operator's raw value, for descriptions.
inline unsigned rawValue(velmor::metadata::ComparisonOperator op) {
    return static_cast<unsigned>(op);
}

} // namespace sweepkit
