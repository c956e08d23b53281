#pragma once

#include "platform/dispatch/SerialQueue.hpp"
#include "platform/fs/URL.hpp"
#include "platform/progress/Progress.hpp"
#include "sdk/finder/cleaning/CleaningEntry.hpp"
#include "sdk/finder/cleaning/CleaningResult.hpp"

#include <functional>
#include <memory>
#include <vector>

namespace sweepkit {

// Deletes entries permanently, one run at a time on a queue of its own, and reports once per run.
class FileCleaner {
public:
    using CleaningResult = sweepkit::CleaningResult;
    static constexpr const char* queueLabel = "com.velmor.sweepkit.FileCleaner.queue";

    FileCleaner();

    const velmor::SerialQueue& queue() const { return queue_; }

    // Returns at once a progress of one unit per entry, through which the run can be followed and
    // cancelled. `completion` runs on the queue, exactly once.
    std::shared_ptr<velmor::Progress> clean(std::vector<velmor::URL> entries,
                                            std::vector<velmor::URL> rootURLs, bool removeEmptiedFolders,
                                            std::function<void(CleaningResult)> completion) const;
    // The same, for entries that must still be what a scan found.
    std::shared_ptr<velmor::Progress> clean(std::vector<CleaningEntry> entries,
                                            std::vector<velmor::URL> rootURLs, bool removeEmptiedFolders,
                                            std::function<void(CleaningResult)> completion) const;

private:
    velmor::SerialQueue queue_;
};

} // namespace sweepkit
