#include "sdk/finder/FileFinderEngine.hpp"

#include <cstring>

namespace sweepkit {

const char* caseName(FileFinderEngine engine) {
    return engine == FileFinderEngine::spotlight ? "spotlight" : "fileSystemTraversal";
}

} // namespace sweepkit

namespace velmor::coding {

Value Coding<sweepkit::FileFinderEngine>::encode(sweepkit::FileFinderEngine engine) {
    return encodeOneKey(sweepkit::caseName(engine), Object{});
}

sweepkit::FileFinderEngine Coding<sweepkit::FileFinderEngine>::decode(const Decoder& decoder) {
    auto [name, payload] = decodeOneKey(decoder, {"fileSystemTraversal", "spotlight"});
    payload.object(); // the payload must be a dictionary, empty or not
    return name == "spotlight" ? sweepkit::FileFinderEngine::spotlight
                               : sweepkit::FileFinderEngine::fileSystemTraversal;
}

} // namespace velmor::coding
