#include "app/model/definitions/CategoryDefinitions.hpp"

#include "platform/coding/PropertyList.hpp"

namespace marrowdale {

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

} // namespace marrowdale
