#pragma once

#include "sdk/duplicates/pipeline/Lookahead.hpp"
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

// A computer that can say beforehand what an identifier will be: it answers the identifier when it
// is known without work, and otherwise asks the lookahead to work it out and answers nothing.
template <typename C>
concept AnticipatingComputer = GroupIdentifierComputer<C> &&
    requires(C& computer, const Event& event, Lookahead& lookahead) {
    {
        computer.anticipatedIdentifier(event, lookahead)
        } -> std::same_as<std::optional<typename C::IdentifierType>>;
};

} // namespace sweepkit::pipeline
