#pragma once

#include "platform/concurrency/Actor.hpp"
#include "platform/fs/URL.hpp"
#include "sdk/finder/SweepKitLogger.hpp"
#include "sdk/finder/criteria/FileMatchingCriterion.hpp"
#include "sdk/finder/spotlight/IndexStatusTool.hpp"

#include <memory>
#include <vector>

namespace sweepkit {

// Drives the queries of the metadata index, one step at a time on its own actor. The actor is
// free while a query waits between two polls, so several searches can gather at once.
class SpotlightEngine {
public:
    // How often a gathering query is looked at, in seconds.
    static constexpr double pollInterval = 0.1;

    explicit SpotlightEngine(double requestTimeout = 30.0, IndexStatusTool indexStatusTool = {})
        : requestTimeout(requestTimeout), indexStatusTool(std::move(indexStatusTool)) {}
    SpotlightEngine(const SpotlightEngine&) = delete;
    SpotlightEngine& operator=(const SpotlightEngine&) = delete;

    // The engine every search of the process uses: 30 seconds, the system's tool.
    static SpotlightEngine& shared();

    // The found items of one query for every file matching the criterion under all roots. Throws
    // `notIndexed` for the first root the index cannot answer for, the criterion's own error when it
    // has no index form, `timeoutWaitingForResults` when the index has not gathered within the
    // time limit, and the cancellation error when the task is cancelled while waiting; cancellation
    // seen between two waits returns what was gathered so far.
    std::vector<FileSystemItem> runQuery(const std::vector<velmor::URL>& roots,
                                         const FileMatchingCriterion& criterion,
                                         const std::shared_ptr<const SweepKitLogger>& logger) const;
    // Whether the index knows at least one file in the folder, within the time limit.
    bool probeQuery(const velmor::URL& directory) const;
    // A volume asks the index-status tool (its launch error is thrown), a folder is probed, and
    // anything else is not indexed. Runs off the actor.
    bool isIndexingEnabled(const velmor::URL& url) const;

    // Seconds a query may gather before it is given up.
    const double requestTimeout;
    const IndexStatusTool indexStatusTool;

private:
    velmor::Actor actor_{"com.velmor.sweepkit.SpotlightEngine"};
};

} // namespace sweepkit
