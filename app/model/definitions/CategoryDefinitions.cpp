#include "app/model/definitions/CategoryDefinitions.hpp"

#include "platform/coding/PropertyList.hpp"

#include <cerrno>
#include <fstream>
#include <iterator>

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

std::vector<FileFinderCategory> loadFileFinderCategories(const velmor::Bundle& bundle) {
    auto url = bundle.urlForResource("parameters-categories", "plist");
    if (!url) {
        throw velmor::TypedError<CleanerError>(CleanerError::missingCategoryFile);
    }
    std::ifstream file(url->path(), std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    if (!file && !file.eof()) {
        throw velmor::ErrorException(velmor::Error::posixForPath(errno != 0 ? errno : EIO, url->path()));
    }
    return decodeCategoryDefinitions(bytes);
}

} // namespace marrowdale
