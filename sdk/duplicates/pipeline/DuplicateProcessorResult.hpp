#pragma once

#include "platform/error/Error.hpp"
#include "sdk/duplicates/pipeline/DuplicateGroup.hpp"

#include <cstdint>
#include <optional>
#include <vector>

namespace sweepkit::pipeline {

// What a pipeline node answers for one walk event.
class DuplicateProcessorResult {
public:
    enum class Kind : std::uint8_t {
        // The entry belongs to the group, which now holds the items shown. A later answer with the
        // same group id supersedes this one.
        duplicate,
        // The event could not be processed; the caller records each error. A file that an earlier
        // event left waiting may fail with it: its error follows the event's own.
        error,
        // Nothing to report.
        notDuplicate,
        // Nothing to report, and the walk is not to descend into this folder.
        skipFolder,
    };

    static DuplicateProcessorResult duplicate(DuplicateGroup group, bool skipFolder);
    static DuplicateProcessorResult error(velmor::Error error);
    // An `error` answer with several failures, in order; `errors` holds at least one.
    static DuplicateProcessorResult error(std::vector<velmor::Error> errors);
    static DuplicateProcessorResult notDuplicate() { return DuplicateProcessorResult(Kind::notDuplicate); }
    static DuplicateProcessorResult skipFolder() { return DuplicateProcessorResult(Kind::skipFolder); }

    Kind kind() const { return kind_; }
    // The group of a `duplicate` answer; nothing for the others.
    const DuplicateGroup* group() const { return group_ ? &*group_ : nullptr; }
    // The first failure of an `error` answer; nothing for the others.
    const velmor::Error* error() const { return errors_.empty() ? nullptr : &errors_.front(); }
    // Every failure of an `error` answer; none for the others.
    const std::vector<velmor::Error>& errors() const { return errors_; }
    // Whether the walk is not to descend: a `skipFolder` answer, or a `duplicate` one that says so.
    bool skipsFolder() const { return kind_ == Kind::skipFolder || skipFolder_; }

    friend bool operator==(const DuplicateProcessorResult&, const DuplicateProcessorResult&) = default;

private:
    explicit DuplicateProcessorResult(Kind kind) : kind_(kind) {}

    Kind kind_;
    bool skipFolder_ = false;
    std::optional<DuplicateGroup> group_;
    std::vector<velmor::Error> errors_;
};

} // namespace sweepkit::pipeline
