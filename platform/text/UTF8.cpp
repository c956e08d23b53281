#include "platform/text/UTF8.hpp"

namespace velmor {

namespace {

constexpr std::string_view replacementCharacter = "\xEF\xBF\xBD";

// The number of bytes of the well-formed sequence at `bytes[at]`, or the negated length of the
// maximal subpart of an ill-formed one (at least 1).
long sequenceLength(std::string_view bytes, std::size_t at) {
    auto byte = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
    unsigned char lead = byte(at);
    if (lead < 0x80) {
        return 1;
    }
    std::size_t length;
    unsigned char secondLow = 0x80, secondHigh = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) {
            secondLow = 0xA0;
        } else if (lead == 0xED) {
            secondHigh = 0x9F;
        }
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) {
            secondLow = 0x90;
        } else if (lead == 0xF4) {
            secondHigh = 0x8F;
        }
    } else {
        return -1;
    }
    for (std::size_t i = 1; i < length; ++i) {
        unsigned char low = i == 1 ? secondLow : 0x80;
        unsigned char high = i == 1 ? secondHigh : 0xBF;
        if (at + i >= bytes.size() || byte(at + i) < low || byte(at + i) > high) {
            return -static_cast<long>(i);
        }
    }
    return static_cast<long>(length);
}

} // namespace

std::size_t validUTF8PrefixLength(std::string_view bytes) {
    std::size_t at = 0;
    while (at < bytes.size()) {
        long length = sequenceLength(bytes, at);
        if (length < 0) {
            break;
        }
        at += static_cast<std::size_t>(length);
    }
    return at;
}

void decodeUTF8Lossily(std::string_view bytes, std::string& out) {
    out.clear();
    std::size_t at = 0;
    while (at < bytes.size()) {
        std::size_t valid = at + validUTF8PrefixLength(bytes.substr(at));
        out.append(bytes.substr(at, valid - at));
        if (valid == bytes.size()) {
            break;
        }
        out.append(replacementCharacter);
        at = valid + static_cast<std::size_t>(-sequenceLength(bytes, valid));
    }
}

} // namespace velmor
