#include "platform/coding/JSON.hpp"

#include "platform/coding/Decoding.hpp"

#include <nlohmann/json.hpp>

namespace velmor::coding {

namespace {

using Json = nlohmann::ordered_json;

std::string base64(const std::vector<std::uint8_t>& bytes) {
    static constexpr char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string text;
    text.reserve((bytes.size() + 2) / 3 * 4);
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        std::uint32_t chunk = static_cast<std::uint32_t>(bytes[i]) << 16;
        if (i + 1 < bytes.size())
            chunk |= static_cast<std::uint32_t>(bytes[i + 1]) << 8;
        if (i + 2 < bytes.size())
            chunk |= bytes[i + 2];
        text += alphabet[(chunk >> 18) & 63];
        text += alphabet[(chunk >> 12) & 63];
        text += i + 1 < bytes.size() ? alphabet[(chunk >> 6) & 63] : '=';
        text += i + 2 < bytes.size() ? alphabet[chunk & 63] : '=';
    }
    return text;
}

Json toJson(const Value& value) {
    return std::visit(
        [](const auto& stored) -> Json {
            using T = std::decay_t<decltype(stored)>;
            if constexpr (std::is_same_v<T, std::monostate>) {
                return nullptr;
            } else if constexpr (std::is_same_v<T, Data>) {
                return base64(stored.bytes);
            } else if constexpr (std::is_same_v<T, Date>) {
                return stored.secondsSinceReferenceDate;
            } else if constexpr (std::is_same_v<T, Array>) {
                Json array = Json::array();
                for (const auto& element : stored) {
                    array.push_back(toJson(element));
                }
                return array;
            } else if constexpr (std::is_same_v<T, Object>) {
                Json object = Json::object();
                for (const auto& [key, element] : stored) {
                    object[key] = toJson(element);
                }
                return object;
            } else {
                return stored;
            }
        },
        value.storage());
}

// `path` leads to `json`; it is extended in place on the way down and only copied into an error.
Value fromJson(const Json& json, CodingPath& path) {
    if (path.size() >= maximumNestingDepth) {
        throw DecodingError(DecodingError::Kind::dataCorrupted, path, nestedTooDeeply());
    }
    switch (json.type()) {
    case Json::value_t::null:
        return Value();
    case Json::value_t::boolean:
        return json.get<bool>();
    case Json::value_t::number_integer:
        return json.get<std::int64_t>();
    case Json::value_t::number_unsigned:
        return json.get<std::uint64_t>();
    case Json::value_t::number_float:
        return json.get<double>();
    case Json::value_t::string:
        return json.get<std::string>();
    case Json::value_t::array: {
        Array array;
        array.reserve(json.size());
        for (const auto& element : json) {
            path.emplace_back(array.size());
            array.push_back(fromJson(element, path));
            path.pop_back();
        }
        return array;
    }
    case Json::value_t::object: {
        Object object;
        for (const auto& [key, element] : json.items()) {
            path.emplace_back(key);
            object.set(key, fromJson(element, path));
            path.pop_back();
        }
        return object;
    }
    default:
        return Value();
    }
}

} // namespace

std::string toJSON(const Value& value, bool prettyPrinted) {
    try {
        return toJson(value).dump(prettyPrinted ? 2 : -1);
    } catch (const Json::type_error& error) {
        throw EncodingError(std::string("The value cannot be written as JSON: ") + error.what());
    }
}

Value fromJSON(std::string_view text) {
    try {
        CodingPath path;
        return fromJson(Json::parse(text), path);
    } catch (const Json::exception&) {
        throw DecodingError(DecodingError::Kind::dataCorrupted, {}, "The given data was not valid JSON.");
    }
}

} // namespace velmor::coding
