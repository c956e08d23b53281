#include "app/model/definitions/FileFinderCategory.hpp"

#include <functional>

namespace marrowdale {

namespace {

void combine(std::size_t& seed, std::size_t value) {
    seed ^= value + 0x9e3779b97f4a7c15ull + (seed << 6) + (seed >> 2);
}

} // namespace

const std::vector<FileFinderCategory::Engine> FileFinderCategory::allEngines = {Engine::spotlight,
                                                                                Engine::fileTraversal};

const char* FileFinderCategory::rawValue(CategoryType type) {
    return type == CategoryType::junk ? "junk" : "custom";
}

const char* FileFinderCategory::caseName(Engine engine) {
    return engine == Engine::spotlight ? "spotlight" : "fileTraversal";
}

std::size_t FileFinderCategory::hash() const {
    std::hash<std::string> text;
    std::size_t seed = 0;
    combine(seed, text(id));
    combine(seed, text(rawValue(type)));
    combine(seed, paths.size());
    for (const auto& path : paths) {
        combine(seed, text(path));
    }
    combine(seed, deleteEmptyFolders ? 1 : 0);
    combine(seed, conditions.hash());
    combine(seed, engines.size());
    for (Engine engine : engines) {
        combine(seed, static_cast<std::size_t>(engine));
    }
    return seed;
}

} // namespace marrowdale

namespace velmor::coding {

using marrowdale::FileFinderCategory;

Value Coding<FileFinderCategory::Engine>::encode(FileFinderCategory::Engine engine) {
    return encodeOneKey(FileFinderCategory::caseName(engine), Object{});
}

FileFinderCategory::Engine Coding<FileFinderCategory::Engine>::decode(const Decoder& decoder) {
    auto [name, payload] = decodeOneKey(decoder, {"spotlight", "fileTraversal"});
    payload.object(); // must be a dictionary; its contents are not read
    return name == "spotlight" ? FileFinderCategory::Engine::spotlight
                               : FileFinderCategory::Engine::fileTraversal;
}

Value Coding<FileFinderCategory>::encode(const FileFinderCategory& category) {
    return Object{{"id", category.id},
                  {"type", FileFinderCategory::rawValue(category.type)},
                  {"paths", coding::encode(category.paths)},
                  {"deleteEmptyFolders", category.deleteEmptyFolders},
                  {"conditions", coding::encode(category.conditions)},
                  {"engines", coding::encode(category.engines)}};
}

FileFinderCategory Coding<FileFinderCategory>::decode(const Decoder& decoder) {
    FileFinderCategory category;
    category.id = decoder.decode<std::string>("id");
    const std::string type = decoder.decode<std::string>("type");
    if (type == "junk") {
        category.type = FileFinderCategory::CategoryType::junk;
    } else if (type == "custom") {
        category.type = FileFinderCategory::CategoryType::custom;
    } else {
        decoder["type"].dataCorrupted("Cannot initialize CategoryType from invalid String value " + type);
    }
    category.paths = decoder.decode<std::vector<std::string>>("paths");
    category.deleteEmptyFolders = decoder.decode<bool>("deleteEmptyFolders");
    category.conditions = decoder.decode<marrowdale::EncodableFileMatchingCriterion>("conditions");
    if (auto engines = decoder.decodeIfPresent<std::vector<FileFinderCategory::Engine>>("engines")) {
        category.engines = std::move(*engines);
    }
    return category;
}

} // namespace velmor::coding
