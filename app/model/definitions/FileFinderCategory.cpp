#include "app/model/definitions/FileFinderCategory.hpp"

#include "platform/hashing/HashCombine.hpp"
#include <functional>

namespace marrowdale {

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
    velmor::hashCombine(seed, text(id));
    velmor::hashCombine(seed, text(rawValue(type)));
    velmor::hashCombine(seed, paths.size());
    for (const auto& path : paths) {
        velmor::hashCombine(seed, text(path));
    }
    velmor::hashCombine(seed, deleteEmptyFolders ? 1 : 0);
    velmor::hashCombine(seed, conditions.hash());
    velmor::hashCombine(seed, engines.size());
    for (Engine engine : engines) {
        velmor::hashCombine(seed, static_cast<std::size_t>(engine));
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
