#pragma once

#include "platform/coding/Decoding.hpp"
#include "platform/fs/Stat.hpp"

namespace velmor::coding {

// A stat record is stored field by field under the field names; the two spare words become
// "st_qspare0" and "st_qspare1".
template <> struct Coding<Stat> {
    static Value encode(const Stat& stat);
    static Stat decode(const Decoder& decoder);
};

template <> struct Coding<Timespec> {
    static Value encode(const Timespec& time);
    static Timespec decode(const Decoder& decoder);
};

} // namespace velmor::coding
