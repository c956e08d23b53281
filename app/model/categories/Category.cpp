#include "app/model/categories/Category.hpp"

#include "app/model/definitions/CriterionConversion.hpp"
#include "app/model/definitions/PathExpansion.hpp"
#include "app/model/logging/VelmorLoggerWrapper.hpp"
#include "platform/concurrency/MainActor.hpp"
#include "platform/concurrency/TaskGroup.hpp"
#include "sdk/finder/FileFinder.hpp"

#include <algorithm>
#include <unordered_set>

namespace marrowdale {

namespace {

struct Presentation {
    const char* rawValue;
    std::vector<std::string> definitionIds;
    const char* imageName;
    const char* colorName;
};

const Presentation& presentation(Category category) {
    static const Presentation table[] = {
        {"largeFiles", {"bigFiles"}, "Categories/large", "CategorySize/largeFiles"},
        {"junkFiles", {"caches", "logs"}, "Categories/junk", "CategorySize/junkFiles"},
        {"oldFiles", {"downloads", "trash"}, "Categories/old", "CategorySize/oldFiles"},
    };
    return table[static_cast<int>(category)];
}

sweepkit::FileFinderEngine sdkEngine(FileFinderCategory::Engine engine) {
    return engine == FileFinderCategory::Engine::spotlight ? sweepkit::FileFinderEngine::spotlight
                                                           : sweepkit::FileFinderEngine::fileSystemTraversal;
}

// The rows one definition's search gives, in the shape of the category.
CleanableNodes rowsFor(Category category, const FileFinderCategory& definition,
                       sweepkit::AnalysisResult result) {
    CleanableNodes rows;
    switch (category) {
    case Category::largeFiles:
        for (auto& item : result.flattenedItems()) {
            rows.push_back(CleanableNode::item(std::move(item)));
        }
        break;
    case Category::junkFiles:
        rows.push_back(CleanableNode::nonBrowsableResult(definition, std::move(result)));
        break;
    case Category::oldFiles:
        for (auto& node : result.nodes) {
            rows.push_back(CleanableNode::node(std::move(node)));
        }
        break;
    }
    return rows;
}

CleanableNodes scanDefinition(Category category, const FileFinderCategory& definition,
                              const std::shared_ptr<const velmor::Logger>& logger) {
    try {
        std::vector<sweepkit::FileFinderEngine> engines;
        for (auto engine : definition.engines) {
            engines.push_back(sdkEngine(engine));
        }
        const sweepkit::FileFinder finder{fileMatchingCriterion(definition.conditions), std::move(engines),
                                          std::make_shared<VelmorLoggerWrapper>(logger)};
        const auto roots = velmor::MainActor::run([&] { return findURLs(definition); });
        auto result = finder.find(
            roots, [](const sweepkit::FileSystemItem&) {}, [] {});
        if (category == Category::oldFiles) {
            // These rows have no place for the search's failures, so they at least reach the log.
            for (const auto& failure : result.errors) {
                logger->error([&] {
                    return "Search of " + definition.id + " failed at " + failure.path + ": " +
                           failure.error.description();
                });
            }
        }
        return rowsFor(category, definition, std::move(result));
    } catch (...) {
        // A definition that fails contributes nothing; the others go on.
        const velmor::Error error = velmor::errorFromException(std::current_exception());
        logger->error([&] { return "Skipping definition " + definition.id + ": " + error.description(); });
        return {};
    }
}

} // namespace

const std::vector<Category>& allCategories() {
    static const std::vector<Category> all = {Category::largeFiles, Category::junkFiles, Category::oldFiles};
    return all;
}

const char* rawValue(Category category) {
    return presentation(category).rawValue;
}

std::optional<Category> categoryFromRawValue(std::string_view text) {
    for (Category category : allCategories()) {
        if (text == rawValue(category)) {
            return category;
        }
    }
    return std::nullopt;
}

const std::vector<std::string>& definitionIds(Category category) {
    return presentation(category).definitionIds;
}
const char* imageName(Category category) {
    return presentation(category).imageName;
}
const char* colorName(Category category) {
    return presentation(category).colorName;
}

std::vector<FileFinderCategory> selectDefinitions(Category category,
                                                  const std::vector<FileFinderCategory>& definitions) {
    const auto& ids = definitionIds(category);
    std::vector<FileFinderCategory> selected;
    for (const auto& definition : definitions) {
        if (std::find(ids.begin(), ids.end(), definition.id) != ids.end()) {
            selected.push_back(definition);
        }
    }
    return selected;
}

std::vector<velmor::URL> baseFindURLs(Category category, const std::vector<FileFinderCategory>& definitions) {
    std::vector<velmor::URL> urls;
    std::unordered_set<velmor::URL> seen;
    for (const auto& definition : selectDefinitions(category, definitions)) {
        std::vector<velmor::URL> definitionURLs;
        try {
            definitionURLs = findURLs(definition);
        } catch (const velmor::ErrorException& error) {
            if (isSearchPathError(error.error())) {
                continue; // skipped by the scan as well: it found nothing
            }
            throw;
        }
        for (auto& url : definitionURLs) {
            if (seen.insert(url).second) {
                urls.push_back(std::move(url));
            }
        }
    }
    return urls;
}

CleanableNodes scan(Category category, const std::vector<FileFinderCategory>& definitions,
                    const std::shared_ptr<const velmor::Logger>& logger) {
    const auto selected = selectDefinitions(category, definitions);
    return velmor::withTaskGroup<CleanableNodes>([&](velmor::TaskGroup<CleanableNodes>& group) {
        for (const auto& definition : selected) {
            group.addTask(
                [category, definition, logger] { return scanDefinition(category, definition, logger); });
        }
        CleanableNodes rows;
        while (auto finished = group.next()) {
            rows.insert(rows.end(), finished->begin(), finished->end());
        }
        return rows;
    });
}

} // namespace marrowdale
