#pragma once

#include "platform/coding/Value.hpp"

#include <concepts>
#include <cstdint>
#include <limits>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace velmor::coding {

// How deep arrays and dictionaries may nest in a document that is read, and records in a value
// tree that is decoded: hostile input must not run the stack dry.
inline constexpr std::size_t maximumNestingDepth = 512;
// The message of a `dataCorrupted` error for nesting past that depth.
std::string nestedTooDeeply();

// One step of a coding path: a dictionary key or an array index.
using CodingKey = std::variant<std::string, std::size_t>;
using CodingPath = std::vector<CodingKey>;

// The path as a message shows it: keys joined by dots, long keys and long paths shortened.
std::string describePath(const CodingPath& path);
// A text read from a document as a message shows it: its first few dozen bytes.
std::string shownInMessage(std::string_view text);

class DecodingError : public std::runtime_error {
public:
    enum class Kind { typeMismatch, valueNotFound, keyNotFound, dataCorrupted };

    DecodingError(Kind kind, CodingPath codingPath, std::string debugDescription);

    Kind kind() const { return kind_; }
    const CodingPath& codingPath() const { return codingPath_; }
    const std::string& debugDescription() const { return debugDescription_; }

private:
    Kind kind_;
    CodingPath codingPath_;
    std::string debugDescription_;
};

class EncodingError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class Decoder;

// Specialise `Coding<T>` with `static Value encode(const T&)` and `static T decode(const Decoder&)`.
template <typename T> struct Coding;

template <typename T> Value encode(const T& value) {
    return Coding<T>::encode(value);
}

// A position in a value tree being decoded: the value and the path that led to it.
class Decoder {
public:
    explicit Decoder(const Value& value, CodingPath path = {}) : value_(&value), path_(std::move(path)) {}

    const Value& value() const { return *value_; }
    const CodingPath& codingPath() const { return path_; }

    const Object& object() const;
    const Array& array() const;
    bool contains(const std::string& key) const { return object().contains(key); }
    // The value under `key`; a missing key is a `keyNotFound` error.
    Decoder operator[](const std::string& key) const;
    std::optional<Decoder> ifPresent(const std::string& key) const;
    std::vector<Decoder> elements() const;

    template <typename T> T as() const { return Coding<T>::decode(*this); }
    template <typename T> T decode(const std::string& key) const { return (*this)[key].as<T>(); }
    // Absent keys and null values give nothing.
    template <typename T> std::optional<T> decodeIfPresent(const std::string& key) const {
        auto nested = ifPresent(key);
        if (!nested || nested->value().isNull()) {
            return std::nullopt;
        }
        return nested->as<T>();
    }

    [[noreturn]] void typeMismatch(const std::string& description) const;
    [[noreturn]] void dataCorrupted(const std::string& description) const;

private:
    const Value* value_;
    CodingPath path_;
};

template <typename T> T decode(const Value& value) {
    return Decoder(value).as<T>();
}

// Enumerations with payloads are stored as a dictionary with exactly one recognised key, the case
// name. Returns that key and a decoder of its payload; keys not in `caseNames` are not counted.
std::pair<std::string, Decoder> decodeOneKey(const Decoder& decoder,
                                             std::initializer_list<const char*> caseNames);
Value encodeOneKey(std::string caseName, Object payload);

template <> struct Coding<bool> {
    static Value encode(bool value) { return value; }
    static bool decode(const Decoder& decoder);
};

template <> struct Coding<std::string> {
    static Value encode(const std::string& value) { return value; }
    static std::string decode(const Decoder& decoder);
};

template <> struct Coding<Data> {
    static Value encode(const Data& value) { return value; }
    static Data decode(const Decoder& decoder);
};

template <> struct Coding<double> {
    static Value encode(double value) { return value; }
    static double decode(const Decoder& decoder);
};

// Dates are property-list dates; a number of seconds since the reference date (their JSON form) is
// accepted too.
template <> struct Coding<Date> {
    static Value encode(const Date& value) { return value; }
    static Date decode(const Decoder& decoder);
};

std::int64_t decodeSignedInteger(const Decoder& decoder, std::int64_t min, std::int64_t max);
std::uint64_t decodeUnsignedInteger(const Decoder& decoder, std::uint64_t max);

template <std::integral T>
requires(!std::same_as<T, bool>) struct Coding<T> {
    static Value encode(T value) { return value; }
    static T decode(const Decoder& decoder) {
        if constexpr (std::is_signed_v<T>) {
            return static_cast<T>(
                decodeSignedInteger(decoder, std::numeric_limits<T>::min(), std::numeric_limits<T>::max()));
        } else {
            return static_cast<T>(decodeUnsignedInteger(decoder, std::numeric_limits<T>::max()));
        }
    }
};

template <typename T> struct Coding<std::vector<T>> {
    static Value encode(const std::vector<T>& values) {
        Array array;
        array.reserve(values.size());
        for (const auto& value : values) {
            array.push_back(Coding<T>::encode(value));
        }
        return array;
    }
    static std::vector<T> decode(const Decoder& decoder) {
        std::vector<T> result;
        for (const auto& element : decoder.elements()) {
            result.push_back(element.as<T>());
        }
        return result;
    }
};

} // namespace velmor::coding
