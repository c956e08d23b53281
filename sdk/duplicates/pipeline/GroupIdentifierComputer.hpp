#pragma once

#include "sdk/filesystem/Event.hpp"

#include <concepts>
#include <functional>
#include <optional>

namespace sweepkit::pipeline {

// Says which group an event belongs to: events with equal identifiers are candidates for the same
// group of duplicates. Nothing means the event belongs to no group. A computer may throw; the
// grouping node turns that into an answer.
template <typename C>
concept GroupIdentifierComputer = std::copy_constructible<C> && requires(C& computer, const Event& event) {
    typename C::IdentifierType;
    { computer.identifier(event) } -> std::same_as<std::optional<typename C::IdentifierType>>;
    {std::hash<typename C::IdentifierType>{}(std::declval<const typename C::IdentifierType&>())};
};

} // namespace sweepkit::pipeline
