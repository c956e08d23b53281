#include "app/model/cleaner/Cleaner.hpp"

#include "app/model/cleaner/CategoryCleaner.hpp"
#include "app/model/nodes/Selection.hpp"
#include "foundation/core/collections/AsyncThreadSafeDictionary.hpp"
#include "platform/concurrency/MainActor.hpp"
#include "platform/concurrency/TaskGroup.hpp"
#include "platform/fs/Volume.hpp"

#include <algorithm>

namespace marrowdale {

using velmor::MainActor;

Cleaner::Cleaner(std::shared_ptr<const velmor::Logger> logger, std::vector<FileFinderCategory> definitions)
    : fileFinderCategories_(std::move(definitions)), logger_(std::move(logger)),
      errorStore_(MainActor::makeShared<ErrorStore>()) {}

std::shared_ptr<Cleaner> Cleaner::make(const velmor::LoggerFactory& loggerFactory,
                                       const velmor::Bundle& bundle) {
    MainActor::assertIsolated();
    std::shared_ptr<const velmor::Logger> logger = loggerFactory("Cleaner");
    std::vector<FileFinderCategory> definitions;
    try {
        definitions = loadFileFinderCategories(bundle);
    } catch (...) {
        const velmor::Error error = velmor::errorFromException(std::current_exception());
        logger->error([&] { return "Failed to fetch fileFinderCategories: " + error.description(); });
    }
    auto cleaner = MainActor::makeShared<Cleaner>(std::move(logger), std::move(definitions));
    MainActor::post([weak = std::weak_ptr<Cleaner>(cleaner)] {
        if (auto cleaner = weak.lock()) {
            cleaner->updateVolumeInfo();
        }
    });
    return cleaner;
}

void Cleaner::setState(State state) {
    state_ = std::move(state);
    CleanableNodes forest;
    if (state_.kind == State::Kind::scanned) {
        for (const auto& [category, result] : state_.results) {
            if (auto nodes = std::get_if<CleanableNodes>(&result)) {
                forest.insert(forest.end(), nodes->begin(), nodes->end());
            }
        }
    }
    selectedSize_.reset(forest);
    if (state_.kind == State::Kind::scanned) {
        for (const auto& [category, ids] : selectedIds_) {
            for (const auto& id : ids) {
                selectedSize_.add(id);
            }
        }
    }
    publishChange();
}

const std::unordered_set<std::string>& Cleaner::selectedIds(Category category) const {
    static const std::unordered_set<std::string> none;
    const auto found = selectedIds_.find(category);
    return found == selectedIds_.end() ? none : found->second;
}

void Cleaner::setSelectedIds(Category category, std::unordered_set<std::string> ids) {
    MainActor::assertIsolated();
    auto& shown = selectedIds_[category];
    if (state_.kind == State::Kind::scanned) {
        // Only what changed is added to the size or taken from it: comparing the two sets costs a
        // lookup for each selected row, but no row's entries are counted again.
        for (const auto& id : shown) {
            if (!ids.contains(id)) {
                selectedSize_.remove(id);
            }
        }
        for (const auto& id : ids) {
            if (!shown.contains(id)) {
                selectedSize_.add(id);
            }
        }
    }
    shown = std::move(ids);
    ++selectionRevision_;
    publishChange();
}

void Cleaner::changeSelectedIds(Category category, const SelectionChange& change) {
    MainActor::assertIsolated();
    auto& shown = selectedIds_[category];
    const bool scanned = state_.kind == State::Kind::scanned;
    for (const auto& id : change.removed) {
        if (shown.erase(id) > 0 && scanned) {
            selectedSize_.remove(id);
        }
    }
    for (const auto& id : change.added) {
        if (shown.insert(id).second && scanned) {
            selectedSize_.add(id);
        }
    }
    ++selectionRevision_;
    publishChange();
}

bool Cleaner::hasSelection() const {
    return std::any_of(selectedIds_.begin(), selectedIds_.end(),
                       [](const auto& entry) { return !entry.second.empty(); });
}

std::int64_t Cleaner::selectedSize() const {
    return state_.kind == State::Kind::scanned ? selectedSize_.total() : 0;
}

void Cleaner::updateVolumeInfo() {
    MainActor::assertIsolated();
    const velmor::URL root = velmor::URL::fileURL("/");
    auto capacity = velmor::Volume::capacity(root);
    if (!capacity) {
        mainVolumeName_.reset();
        volumeAvailableCapacityForImportantUsage_.reset();
        volumeTotalCapacity_.reset();
    } else {
        mainVolumeName_ = velmor::Volume::name(root);
        volumeAvailableCapacityForImportantUsage_ = static_cast<std::int64_t>(capacity->available);
        volumeTotalCapacity_ = static_cast<std::int64_t>(capacity->total);
    }
    publishChange();
}

std::unordered_set<std::string> Cleaner::allSelectedIds() const {
    std::unordered_set<std::string> all;
    for (const auto& [category, ids] : selectedIds_) {
        all.insert(ids.begin(), ids.end());
    }
    return all;
}

CleanableNodes Cleaner::allSelectedNodes() const {
    MainActor::assertIsolated();
    if (state_.kind != State::Kind::scanned) {
        return {};
    }
    CleanableNodes all;
    for (const auto& [category, result] : state_.results) {
        if (auto nodes = std::get_if<CleanableNodes>(&result)) {
            all.insert(all.end(), nodes->begin(), nodes->end());
        }
    }
    return selectedNodes(allSelectedIds(), all);
}

void Cleaner::scan() {
    MainActor::assertIsolated();
    errorStore_->removeAll();
    currentRun_.cancel();
    setState(State::scanning());

    const std::uint64_t run = ++runNumber_;
    auto self = shared_from_this();
    currentRun_ = velmor::Task<>::start(
        [self, run, categories = categories_, definitions = fileFinderCategories_, logger = logger_] {
            using Outcome = std::pair<Category, CategoryResult>;
            Results results = velmor::withTaskGroup<Outcome>([&](velmor::TaskGroup<Outcome>& group) {
                for (Category category : categories) {
                    group.addTask([category, &definitions, &logger]() -> Outcome {
                        try {
                            return {category, marrowdale::scan(category, definitions, logger)};
                        } catch (...) {
                            return {category, velmor::errorFromException(std::current_exception())};
                        }
                    });
                }
                Results collected;
                while (auto outcome = group.next()) {
                    collected[outcome->first] = std::move(outcome->second);
                }
                return collected;
            });
            MainActor::run([&] {
                // Asked on the main thread, where the press of stop happens: a stop pressed while
                // the state still showed scanning always ends in stopped, however far the scan got.
                if (self->isCurrent(run)) {
                    const bool cancelled = velmor::AnyTask::isCancelled();
                    self->setState(cancelled ? State::stopped() : State::scanned(std::move(results)));
                }
                results.clear();
            });
        });
}

void Cleaner::clean() {
    MainActor::assertIsolated();
    if (state_.kind != State::Kind::scanned) {
        return;
    }
    currentRun_.cancel();
    Results results = state_.results;
    setState(State::cleaning(results));

    const std::uint64_t run = ++runNumber_;
    auto self = shared_from_this();
    currentRun_ = velmor::Task<>::start([self, run, results = std::move(results)]() mutable {
        velmor::AsyncThreadSafeDictionary<Category, CategoryResult> cleaned;
        velmor::withTaskGroup<void>([&](velmor::TaskGroup<void>& group) {
            for (const auto& [category, old] : results) {
                group.addTask([&self, &cleaned, run, category, old] {
                    try {
                        std::vector<velmor::URL> urls;
                        try {
                            urls = MainActor::run(
                                [&] { return baseFindURLs(category, self->fileFinderCategories_); });
                        } catch (...) {
                            const velmor::Error error = velmor::errorFromException(std::current_exception());
                            self->logger_->error([&] {
                                return std::string("Could not get find URLs for category ") +
                                       rawValue(category) + ": " + error.description();
                            });
                            return;
                        }
                        auto ids = MainActor::run([&] { return self->allSelectedIds(); });
                        CategoryCleaner::Hooks hooks{[self, run] { return self->isCurrent(run); },
                                                     [self, run] {
                                                         if (self->isCurrent(run)) {
                                                             self->publishChange();
                                                         }
                                                     }};
                        CategoryCleaner cleaner(old, std::move(urls), self->errorStore_, self->logger_,
                                                std::move(hooks));
                        cleaned.setValue(category, cleaner.clean(ids));
                    } catch (...) {
                        // Nothing may vanish unnoticed: the category keeps what it showed, and the
                        // failure is logged.
                        const velmor::Error error = velmor::errorFromException(std::current_exception());
                        self->logger_->error([&] {
                            return std::string("Could not clean category ") + rawValue(category) + ": " +
                                   error.description();
                        });
                        cleaned.setValue(category, old);
                    }
                });
            }
        });
        auto dictionary = cleaned.dictionary();
        MainActor::run([&] {
            if (self->isCurrent(run)) {
                self->setState(State::scanned(Results(dictionary.begin(), dictionary.end())));
            }
            dictionary.clear();
            results.clear();
        });
    });
}

} // namespace marrowdale
