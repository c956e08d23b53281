#pragma once

#include "app/model/definitions/FileFinderCategory.hpp"
#include "platform/bundle/Bundle.hpp"
#include "platform/error/Error.hpp"

#include <string_view>
#include <vector>

namespace marrowdale {

// Failures of loading the category definitions.
enum class CleanerError { missingCategoryFile, missingCategoryEntry };

// The definitions under "categories" in the bytes of a definitions property list. Every top-level
// value must be a list of valid definitions: one bad definition anywhere fails the whole file, and
// no partial list is returned. Throws `DecodingError`, or `CleanerError::missingCategoryEntry` when
// there is no "categories" key.
std::vector<FileFinderCategory> decodeCategoryDefinitions(std::string_view propertyList);

// The definitions of the resource "parameters-categories.plist" of `bundle`. Throws
// `CleanerError::missingCategoryFile` when the bundle has no such resource, a POSIX error (with the
// file's path) when it cannot be read, and what decoding throws.
std::vector<FileFinderCategory>
loadFileFinderCategories(const velmor::Bundle& bundle = velmor::Bundle::main());

} // namespace marrowdale

template <> struct velmor::ErrorDomain<marrowdale::CleanerError> {
    static constexpr const char* value = "Marrowdale.Cleaner.CleanerError";
};
