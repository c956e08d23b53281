#pragma once

#include "app/ui/update/UpdateFeed.hpp"

#include <QString>

#include <vector>

namespace marrowdale {

// How one update check ended.
struct UpdateOutcome {
    enum class Kind { updateFound, upToDate, failed };
    Kind kind = Kind::failed;
    // The release found, for `updateFound`.
    UpdateItem item;
    // For `upToDate` and `failed`: what the user reads and the log keeps.
    QString description;
    // Why items of the feed were passed over, for the log.
    std::vector<QString> skippedItems;

    static UpdateOutcome found(UpdateItem item) { return {Kind::updateFound, std::move(item), {}, {}}; }
    static UpdateOutcome upToDate(QString description) { return {Kind::upToDate, {}, std::move(description), {}}; }
    static UpdateOutcome failed(QString description) { return {Kind::failed, {}, std::move(description), {}}; }
};

} // namespace marrowdale
