#include "sdk/duplicates/DuplicateFinderSettings.hpp"

namespace velmor::coding {

using sweepkit::DuplicateFinderSettings;

Value Coding<DuplicateFinderSettings>::encode(const DuplicateFinderSettings& settings) {
    return Object{{"skipHiddenFiles", settings.skipHiddenFiles},
                  {"skipHiddenFolders", settings.skipHiddenFolders},
                  {"skipSystemFolders", settings.skipSystemFolders},
                  {"patternsToSkip", coding::encode(settings.patternsToSkip)}};
}

DuplicateFinderSettings Coding<DuplicateFinderSettings>::decode(const Decoder& decoder) {
    const bool skipHiddenFiles = decoder.decode<bool>("skipHiddenFiles");
    const bool skipHiddenFolders = decoder.decode<bool>("skipHiddenFolders");
    const bool skipSystemFolders = decoder.decode<bool>("skipSystemFolders");
    return DuplicateFinderSettings(skipHiddenFiles, skipHiddenFolders, skipSystemFolders,
                                   decoder.decode<std::vector<std::string>>("patternsToSkip"));
}

} // namespace velmor::coding
