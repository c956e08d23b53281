#include "platform/coding/Decoding.hpp"

#include <cmath>

namespace velmor::coding {

std::string nestedTooDeeply() {
    return "The data is nested more than " + std::to_string(maximumNestingDepth) + " levels deep.";
}

namespace {

// What a message shows of a path: keys cut to a few dozen bytes, and of a long path its first and
// last steps, so that a hostile document's keys cannot swell every message about it.
constexpr std::size_t shownKeyBytes = 48;
constexpr std::size_t shownSteps = 8;

} // namespace

std::string shownInMessage(std::string_view text) {
    if (text.size() <= shownKeyBytes) {
        return std::string(text);
    }
    std::size_t end = shownKeyBytes;
    // Not within a UTF-8 sequence.
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) {
        --end;
    }
    return std::string(text.substr(0, end)) + "...";
}

std::string describePath(const CodingPath& path) {
    std::string text;
    for (std::size_t step = 0; step < path.size(); ++step) {
        if (path.size() > 2 * shownSteps && step == shownSteps) {
            text += ".(" + std::to_string(path.size() - 2 * shownSteps) + " more)";
            step = path.size() - shownSteps - 1;
            continue;
        }
        if (!text.empty()) {
            text += '.';
        }
        if (auto name = std::get_if<std::string>(&path[step])) {
            text += shownInMessage(*name);
        } else {
            text += "Index " + std::to_string(std::get<std::size_t>(path[step]));
        }
    }
    return text.empty() ? "<root>" : text;
}

namespace {

std::string whatText(DecodingError::Kind kind, const CodingPath& path, const std::string& description) {
    static constexpr const char* names[] = {"typeMismatch", "valueNotFound", "keyNotFound", "dataCorrupted"};
    return std::string(names[static_cast<int>(kind)]) + " at " + describePath(path) + ": " + description;
}

CodingPath appending(const CodingPath& path, CodingKey key) {
    // A value tree built in code is not bounded by the document readers' limit; decoding it is.
    if (path.size() >= maximumNestingDepth) {
        throw DecodingError(DecodingError::Kind::dataCorrupted, path, nestedTooDeeply());
    }
    CodingPath result = path;
    result.push_back(std::move(key));
    return result;
}

} // namespace

DecodingError::DecodingError(Kind kind, CodingPath codingPath, std::string debugDescription)
    : std::runtime_error(whatText(kind, codingPath, debugDescription)), kind_(kind),
      codingPath_(std::move(codingPath)), debugDescription_(std::move(debugDescription)) {}

void Decoder::typeMismatch(const std::string& description) const {
    throw DecodingError(DecodingError::Kind::typeMismatch, path_, description);
}

void Decoder::dataCorrupted(const std::string& description) const {
    throw DecodingError(DecodingError::Kind::dataCorrupted, path_, description);
}

const Object& Decoder::object() const {
    if (auto object = value_->get<Object>()) {
        return *object;
    }
    if (value_->isNull()) {
        throw DecodingError(DecodingError::Kind::valueNotFound, path_,
                            "Expected to decode a dictionary but found null instead.");
    }
    typeMismatch(std::string("Expected to decode a dictionary but found ") + value_->kindDescription() +
                 " instead.");
}

const Array& Decoder::array() const {
    if (auto array = value_->get<Array>()) {
        return *array;
    }
    if (value_->isNull()) {
        throw DecodingError(DecodingError::Kind::valueNotFound, path_,
                            "Expected to decode an array but found null instead.");
    }
    typeMismatch(std::string("Expected to decode an array but found ") + value_->kindDescription() +
                 " instead.");
}

Decoder Decoder::operator[](const std::string& key) const {
    if (auto nested = object().find(key)) {
        return Decoder(*nested, appending(path_, key));
    }
    throw DecodingError(DecodingError::Kind::keyNotFound, path_,
                        "No value associated with key \"" + key + "\".");
}

std::optional<Decoder> Decoder::ifPresent(const std::string& key) const {
    if (auto nested = object().find(key)) {
        return Decoder(*nested, appending(path_, key));
    }
    return std::nullopt;
}

std::vector<Decoder> Decoder::elements() const {
    const Array& values = array();
    std::vector<Decoder> result;
    result.reserve(values.size());
    for (std::size_t index = 0; index < values.size(); ++index) {
        result.emplace_back(values[index], appending(path_, index));
    }
    return result;
}

std::pair<std::string, Decoder> decodeOneKey(const Decoder& decoder,
                                             std::initializer_list<const char*> caseNames) {
    const Object& object = decoder.object();
    const char* found = nullptr;
    int count = 0;
    for (const char* name : caseNames) {
        if (object.contains(name)) {
            found = name;
            ++count;
        }
    }
    if (count != 1) {
        decoder.typeMismatch("Invalid number of keys found, expected one.");
    }
    return {found, decoder[found]};
}

Value encodeOneKey(std::string caseName, Object payload) {
    Object object;
    object.set(std::move(caseName), std::move(payload));
    return object;
}

bool Coding<bool>::decode(const Decoder& decoder) {
    if (auto value = decoder.value().get<bool>()) {
        return *value;
    }
    decoder.typeMismatch(std::string("Expected to decode a boolean but found ") +
                         decoder.value().kindDescription() + " instead.");
}

std::string Coding<std::string>::decode(const Decoder& decoder) {
    if (auto value = decoder.value().get<std::string>()) {
        return *value;
    }
    decoder.typeMismatch(std::string("Expected to decode a string but found ") +
                         decoder.value().kindDescription() + " instead.");
}

Data Coding<Data>::decode(const Decoder& decoder) {
    if (auto value = decoder.value().get<Data>()) {
        return *value;
    }
    decoder.typeMismatch(std::string("Expected to decode data but found ") + decoder.value().kindDescription() +
                         " instead.");
}

double Coding<double>::decode(const Decoder& decoder) {
    const Value& value = decoder.value();
    if (auto number = value.get<double>()) {
        return *number;
    }
    if (auto number = value.get<std::int64_t>()) {
        return static_cast<double>(*number);
    }
    if (auto number = value.get<std::uint64_t>()) {
        return static_cast<double>(*number);
    }
    decoder.typeMismatch(std::string("Expected to decode a number but found ") + value.kindDescription() +
                         " instead.");
}

Date Coding<Date>::decode(const Decoder& decoder) {
    if (auto date = decoder.value().get<Date>()) {
        return *date;
    }
    if (decoder.value().get<double>() || decoder.value().get<std::int64_t>()) {
        return Date{Coding<double>::decode(decoder)};
    }
    decoder.typeMismatch(std::string("Expected to decode a date but found ") +
                         decoder.value().kindDescription() + " instead.");
}

namespace {

[[noreturn]] void notANumber(const Decoder& decoder) {
    decoder.typeMismatch(std::string("Expected to decode an integer but found ") +
                         decoder.value().kindDescription() + " instead.");
}

[[noreturn]] void doesNotFit(const Decoder& decoder) {
    decoder.dataCorrupted("Parsed number does not fit in the expected integer type.");
}

} // namespace

std::int64_t decodeSignedInteger(const Decoder& decoder, std::int64_t min, std::int64_t max) {
    const Value& value = decoder.value();
    if (auto number = value.get<std::int64_t>()) {
        if (*number < min || *number > max) {
            doesNotFit(decoder);
        }
        return *number;
    }
    if (value.get<std::uint64_t>()) {
        doesNotFit(decoder);
    }
    if (auto number = value.get<double>()) {
        if (std::trunc(*number) != *number || *number < static_cast<double>(min) ||
            *number >= -static_cast<double>(min) || *number > static_cast<double>(max)) {
            doesNotFit(decoder);
        }
        return static_cast<std::int64_t>(*number);
    }
    notANumber(decoder);
}

std::uint64_t decodeUnsignedInteger(const Decoder& decoder, std::uint64_t max) {
    const Value& value = decoder.value();
    if (auto number = value.get<std::int64_t>()) {
        if (*number < 0 || static_cast<std::uint64_t>(*number) > max) {
            doesNotFit(decoder);
        }
        return static_cast<std::uint64_t>(*number);
    }
    if (auto number = value.get<std::uint64_t>()) {
        if (*number > max) {
            doesNotFit(decoder);
        }
        return *number;
    }
    if (auto number = value.get<double>()) {
        if (std::trunc(*number) != *number || *number < 0 || *number >= 18446744073709551616.0 ||
            *number > static_cast<double>(max)) {
            doesNotFit(decoder);
        }
        return static_cast<std::uint64_t>(*number);
    }
    notANumber(decoder);
}

} // namespace velmor::coding
