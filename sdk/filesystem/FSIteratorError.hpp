#pragma once

#include "platform/error/Error.hpp"

namespace sweepkit {

enum class FSIteratorError { nothingToSkip };

} // namespace sweepkit

template <> struct velmor::ErrorDomain<sweepkit::FSIteratorError> {
    static constexpr const char* value = "FilesystemUtilities.FSIteratorError";
};
