#pragma once

#include "app/model/definitions/FileFinderCategory.hpp"
#include "app/model/nodes/CleanableNode.hpp"
#include "foundation/core/log/Logger.hpp"
#include "platform/fs/URL.hpp"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace marrowdale {

// The three groups of reclaimable files the user sees, each a fixed set of definition ids.
enum class Category { largeFiles, junkFiles, oldFiles };

const std::vector<Category>& allCategories();
const char* rawValue(Category category);
std::optional<Category> categoryFromRawValue(std::string_view text);
// The definition ids a category runs, in order.
const std::vector<std::string>& definitionIds(Category category);
// Names of the category's picture and colour among the application's assets.
const char* imageName(Category category);
const char* colorName(Category category);

// The definitions of `definitions` that belong to `category`, in their order.
std::vector<FileFinderCategory> selectDefinitions(Category category,
                                                  const std::vector<FileFinderCategory>& definitions);

// The search roots of the category's definitions, each once. Throws when the home folder cannot be
// found.
std::vector<velmor::URL> baseFindURLs(Category category, const std::vector<FileFinderCategory>& definitions);

// Searches every definition of the category side by side, one child task each, and gives the rows
// in the order the searches finish. A definition that cannot be converted, expanded or searched
// contributes nothing. Runs on a task; the search sees that task's cancellation.
CleanableNodes scan(Category category, const std::vector<FileFinderCategory>& definitions,
                    const std::shared_ptr<const velmor::Logger>& logger);

} // namespace marrowdale
