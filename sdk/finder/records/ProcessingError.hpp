#pragma once

#include "platform/coding/Decoding.hpp"
#include "platform/error/Error.hpp"

#include <string>

namespace sweepkit {

// A failure tied to a path, collected with a result instead of stopping the run.
struct ProcessingError {
    velmor::Error error;
    std::string path;
};

} // namespace sweepkit

// Stored as "errorCode", "errorDomain" and "path" (as `pathText` writes it): decoding gives back an
// error of that domain and code, without its user info.
template <> struct velmor::coding::Coding<sweepkit::ProcessingError> {
    static Value encode(const sweepkit::ProcessingError& error);
    static sweepkit::ProcessingError decode(const Decoder& decoder);
};
