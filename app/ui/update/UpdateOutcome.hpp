#pragma once

#include "app/ui/update/UpdateFeed.hpp"

#include <QString>

#include <vector>

namespace marrowdale {

// How one update check ended.
struct UpdateOutcome {
    // `noFeed`: the program has no feed address, which is how it is built, not a failure to log.
    enum class Kind { updateFound, upToDate, failed, noFeed };
    Kind kind = Kind::failed;
    // The release found, for `updateFound`.
    UpdateItem item;
    // For `upToDate`, `failed` and `noFeed`: what the user reads and the log keeps.
    QString description;
    // Why items of the feed were passed over, for the log.
    std::vector<QString> skippedItems;

    static UpdateOutcome found(UpdateItem item) { return {Kind::updateFound, std::move(item), {}, {}}; }
    static UpdateOutcome upToDate(QString description) { return {Kind::upToDate, {}, std::move(description), {}}; }
    static UpdateOutcome failed(QString description) { return {Kind::failed, {}, std::move(description), {}}; }
    static UpdateOutcome noFeed(QString description) { return {Kind::noFeed, {}, std::move(description), {}}; }
};

} // namespace marrowdale
