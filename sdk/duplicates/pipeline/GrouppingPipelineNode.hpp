#pragma once

#include "platform/concurrency/CancellationError.hpp"
#include "platform/error/Error.hpp"
#include "sdk/duplicates/pipeline/DuplicateProcessorPipelineNode.hpp"
#include "sdk/duplicates/pipeline/GroupIdentifierComputer.hpp"
#include "sdk/filesystem/PackedEvent.hpp"

#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <unordered_map>
#include <utility>
#include <variant>
#include <vector>

namespace sweepkit::pipeline {

// The `Error` of a failed identifier, made sure to name the file it concerns: the caller records a
// failure under the path its error carries, which need not be the path of the event answered.
velmor::Error identifierError(std::exception_ptr failure, const std::string& path);

// Splits the events reaching it by the identifier its computer gives them, and hands each group to
// a chain of its own. A group holds its first event alone until a second one arrives, since most
// groups never get one; the chain is made then, with the first event, which it holds without
// computing anything for it, and the second is handed to it. Only the second event makes it compute
// both, so an expensive identifier is worked out only for events that already share every cheaper
// one.
//
// A failed identifier is answered as `error`, carrying the failed file's path, and that event joins
// no group; a cancelled computation is no failure and answers `notDuplicate`. When an event fails
// while the first one is held, the held one is computed too, so that a held file that fails as well
// is reported then, beside it, and not only if a later event of its group succeeds.
template <typename Next, typename Computer>
requires std::derived_from<Next, DuplicateProcessorPipelineNode> && GroupIdentifierComputer<Computer>
class GrouppingPipelineNode : public DuplicateProcessorPipelineNode {
public:
    using Identifier = typename Computer::IdentifierType;
    // Makes the next level's node for a new group, given the event that opens it. The node holds
    // that event (as its first event, or its first item) and is not asked to process it.
    using CreateNextPipeline = std::function<std::shared_ptr<Next>(const Event&)>;

    GrouppingPipelineNode(std::optional<Event> firstEvent, Computer groupIdentifierComputer,
                          CreateNextPipeline createNextPipeline)
        : createNextPipeline_(std::move(createNextPipeline)),
          groupIdentifierComputer_(std::move(groupIdentifierComputer)) {
        if (firstEvent) {
            firstEvent_.emplace(*firstEvent);
        }
    }

    DuplicateProcessorResult process(const Event& event) override {
        std::optional<Identifier> id;
        try {
            id = groupIdentifierComputer_.identifier(event);
        } catch (const velmor::CancellationError&) {
            return DuplicateProcessorResult::notDuplicate();
        } catch (...) {
            return failed(identifierError(std::current_exception(), event.path()));
        }
        if (!id) {
            return DuplicateProcessorResult::notDuplicate();
        }

        if (firstEvent_) {
            std::optional<velmor::Error> heldFailure;
            if (!releaseHeld(heldFailure)) {
                return DuplicateProcessorResult::notDuplicate();
            }
            if (heldFailure) {
                // The held event neither blocks the files after it nor is blamed on them; the
                // current event opens the group in its place.
                openGroup(std::move(*id), event);
                return DuplicateProcessorResult::error(std::move(*heldFailure));
            }
        }

        if (auto found = store_.find(*id); found != store_.end()) {
            return chainOf(found->second).process(event);
        }
        openGroup(std::move(*id), event);
        return DuplicateProcessorResult::notDuplicate();
    }

    // Asks for the identifiers that processing `event` now would compute and that its computer can
    // work out beforehand: the event's own, and the held event's. Where the event's identifier is
    // known already, its group's chain is asked too; a group still holding its first event alone
    // gets its chain now, as the event would give it one.
    void anticipate(const Event& event, Lookahead& lookahead) override {
        if constexpr (AnticipatingComputer<Computer>) {
            const std::optional<Identifier> id =
                groupIdentifierComputer_.anticipatedIdentifier(event, lookahead);
            if (firstEvent_) {
                // A node holding its first event has no groups yet.
                groupIdentifierComputer_.anticipatedIdentifier(firstEvent_->unpack(), lookahead);
                return;
            }
            if (!id) {
                return;
            }
            if (auto found = store_.find(*id); found != store_.end()) {
                chainOf(found->second).anticipate(event, lookahead);
            }
        }
    }

private:
    // Computes the held event's identifier, opens its group with it and lets it go. False when the
    // computation was cancelled: the event stays held. A held event that fails is let go with its
    // error in `failure`, so that it is reported once.
    bool releaseHeld(std::optional<velmor::Error>& failure) {
        const Event held = firstEvent_->unpack();
        std::optional<Identifier> firstId;
        try {
            firstId = groupIdentifierComputer_.identifier(held);
        } catch (const velmor::CancellationError&) {
            return false;
        } catch (...) {
            failure = identifierError(std::current_exception(), held.path());
            firstEvent_.reset();
            return true;
        }
        if (firstId) {
            openGroup(std::move(*firstId), held);
        }
        firstEvent_.reset();
        return true;
    }

    // Answers the current event's failure, after releasing the held event, whose own failure
    // follows it.
    DuplicateProcessorResult failed(velmor::Error error) {
        std::vector<velmor::Error> errors{std::move(error)};
        std::optional<velmor::Error> heldFailure;
        if (firstEvent_ && releaseHeld(heldFailure) && heldFailure) {
            errors.push_back(std::move(*heldFailure));
        }
        return DuplicateProcessorResult::error(std::move(errors));
    }

    // A group's first event until a second one arrives, then the group's chain. Most groups of a
    // search never get a second event, so the first is kept packed.
    using Group = std::variant<PackedEvent, std::shared_ptr<Next>>;

    void openGroup(Identifier id, const Event& event) {
        store_.try_emplace(std::move(id), std::in_place_type<PackedEvent>, event);
    }

    Next& chainOf(Group& group) {
        if (const PackedEvent* first = std::get_if<PackedEvent>(&group)) {
            std::shared_ptr<Next> chain = createNextPipeline_(first->unpack());
            group = std::move(chain);
        }
        return *std::get<std::shared_ptr<Next>>(group);
    }

    std::unordered_map<Identifier, Group> store_;
    CreateNextPipeline createNextPipeline_;
    Computer groupIdentifierComputer_;
    std::optional<PackedEvent> firstEvent_;
};

} // namespace sweepkit::pipeline
