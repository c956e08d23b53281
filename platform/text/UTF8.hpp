#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace velmor {

// Length of the well-formed UTF-8 prefix of `bytes`: bytes.size() when all of it is valid.
std::size_t validUTF8PrefixLength(std::string_view bytes);

inline bool isValidUTF8(std::string_view bytes) {
    return validUTF8PrefixLength(bytes) == bytes.size();
}

// Replaces `out` with the text of `bytes`, each ill-formed sequence (each maximal subpart of one) read
// as U+FFFD, the way file-system names become text. Reuses `out`'s storage.
void decodeUTF8Lossily(std::string_view bytes, std::string& out);

} // namespace velmor
