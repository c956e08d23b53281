#include "app/model/definitions/CategoryDefinitions.hpp"

#include "platform/coding/PropertyList.hpp"
#include "platform/fs/FileContents.hpp"

namespace marrowdale {

namespace {

// The shipped definitions take a few KiB; a file past this is refused unread.
constexpr std::size_t definitionsSizeLimit = 4 << 20;

} // namespace

std::vector<FileFinderCategory> decodeCategoryDefinitions(std::string_view propertyList) {
    using namespace velmor::coding;
    const Value root = fromPropertyList(propertyList);
    const Decoder decoder(root);
    std::vector<FileFinderCategory> categories;
    bool found = false;
    for (const auto& [key, value] : decoder.object()) {
        auto decoded = decoder[key].as<std::vector<FileFinderCategory>>();
        if (key == "categories") {
            categories = std::move(decoded);
            found = true;
        }
    }
    if (!found) {
        throw velmor::TypedError<CleanerError>(CleanerError::missingCategoryEntry);
    }
    return categories;
}

std::vector<FileFinderCategory> loadFileFinderCategories(const velmor::Bundle& bundle) {
    auto url = bundle.urlForResource("parameters-categories", "plist");
    if (!url) {
        throw velmor::TypedError<CleanerError>(CleanerError::missingCategoryFile);
    }
    auto bytes = velmor::readFileIfPresent(url->path(), definitionsSizeLimit);
    if (!bytes) {
        throw velmor::TypedError<CleanerError>(CleanerError::missingCategoryFile); // gone since it was found
    }
    return decodeCategoryDefinitions(*bytes);
}

} // namespace marrowdale
