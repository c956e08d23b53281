#pragma once

#include "app/model/definitions/EncodableFileMatchingCriterion.hpp"

#include <string>
#include <vector>

namespace marrowdale {

// One search definition of the category definitions file: where to search, what matches, and which
// engines to ask, in order.
struct FileFinderCategory {
    enum class CategoryType { junk, custom };
    enum class Engine { spotlight, fileTraversal };

    static const std::vector<Engine> allEngines;
    static const char* rawValue(CategoryType type);
    static const char* caseName(Engine engine);

    std::string id;
    CategoryType type = CategoryType::custom;
    // Root paths; "~" stands for the user's home folder.
    std::vector<std::string> paths;
    // Carried with the definition; nothing acts on it.
    bool deleteEmptyFolders = false;
    EncodableFileMatchingCriterion conditions = EncodableFileMatchingCriterion::fileIsDeletable();
    std::vector<Engine> engines = allEngines;

    friend bool operator==(const FileFinderCategory&, const FileFinderCategory&) = default;
    std::size_t hash() const;
};

} // namespace marrowdale

template <> struct std::hash<marrowdale::FileFinderCategory> {
    std::size_t operator()(const marrowdale::FileFinderCategory& category) const noexcept {
        return category.hash();
    }
};

template <> struct velmor::coding::Coding<marrowdale::FileFinderCategory::Engine> {
    static Value encode(marrowdale::FileFinderCategory::Engine engine);
    static marrowdale::FileFinderCategory::Engine decode(const Decoder& decoder);
};

template <> struct velmor::coding::Coding<marrowdale::FileFinderCategory> {
    static Value encode(const marrowdale::FileFinderCategory& category);
    static marrowdale::FileFinderCategory decode(const Decoder& decoder);
};
