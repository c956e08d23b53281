#include "sdk/finder/cleaning/FileCleaner.hpp"

#include "sdk/finder/cleaning/DeletionRoutine.hpp"

namespace sweepkit {

FileCleaner::FileCleaner() : queue_(queueLabel) {}

std::shared_ptr<velmor::Progress> FileCleaner::clean(std::vector<velmor::URL> entries,
                                                     std::vector<velmor::URL> rootURLs,
                                                     bool removeEmptiedFolders,
                                                     std::function<void(CleaningResult)> completion) const {
    std::vector<CleaningEntry> plain;
    plain.reserve(entries.size());
    for (auto& url : entries) {
        plain.push_back(CleaningEntry{std::move(url), std::nullopt});
    }
    return clean(std::move(plain), std::move(rootURLs), removeEmptiedFolders, std::move(completion));
}

std::shared_ptr<velmor::Progress> FileCleaner::clean(std::vector<CleaningEntry> entries,
                                                     std::vector<velmor::URL> rootURLs,
                                                     bool removeEmptiedFolders,
                                                     std::function<void(CleaningResult)> completion) const {
    auto progress = std::make_shared<velmor::Progress>(static_cast<std::int64_t>(entries.size()));
    queue_.async([entries = std::move(entries), rootURLs = std::move(rootURLs), removeEmptiedFolders,
                  progress, completion = std::move(completion)] {
        completion(Cleaner::removeItems(entries, rootURLs, removeEmptiedFolders, *progress));
    });
    return progress;
}

} // namespace sweepkit
