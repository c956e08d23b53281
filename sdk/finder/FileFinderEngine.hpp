#pragma once

#include "platform/coding/Decoding.hpp"

#include <array>
#include <string>

namespace sweepkit {

// The search engines a finder can ask, in case order. The finder names this type `FileFinder::Engine`.
enum class FileFinderEngine { fileSystemTraversal, spotlight };

inline constexpr std::array<FileFinderEngine, 2> allFileFinderEngines = {
    FileFinderEngine::fileSystemTraversal, FileFinderEngine::spotlight};

// "fileSystemTraversal" or "spotlight".
const char* caseName(FileFinderEngine engine);

} // namespace sweepkit

// Stored as a dictionary with the case name as its one key over an empty dictionary.
template <> struct velmor::coding::Coding<sweepkit::FileFinderEngine> {
    static Value encode(sweepkit::FileFinderEngine engine);
    static sweepkit::FileFinderEngine decode(const Decoder& decoder);
};
