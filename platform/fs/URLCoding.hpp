#pragma once

#include "platform/coding/Decoding.hpp"
#include "platform/fs/URL.hpp"

namespace velmor::coding {

// A URL is stored as a dictionary with its absolute text under "relative", as the platform's
// keyed coders store URLs.
template <> struct Coding<URL> {
    static Value encode(const URL& url);
    static URL decode(const Decoder& decoder);
};

} // namespace velmor::coding
