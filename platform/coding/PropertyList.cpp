#include "platform/coding/PropertyList.hpp"

#include "platform/coding/BinaryPropertyListCheck.hpp"
#include "platform/coding/Decoding.hpp"
#include "platform/coding/XMLPropertyList.hpp"
#include "platform/text/UTF8.hpp"

#include <cmath>
#include <cstdlib>
#include <limits>
#include <memory>
#include <type_traits>
#include <variant>
#include <plist/plist.h>

namespace velmor::coding {

namespace {

struct PlistDeleter {
    void operator()(void* node) const { ::plist_free(static_cast<plist_t>(node)); }
};

Value convert(plist_t node, std::size_t depth) {
    if (depth > maximumNestingDepth) {
        throw DecodingError(DecodingError::Kind::dataCorrupted, {}, nestedTooDeeply());
    }
    switch (::plist_get_node_type(node)) {
    case PLIST_BOOLEAN: {
        std::uint8_t value = 0;
        ::plist_get_bool_val(node, &value);
        return value != 0;
    }
    case PLIST_UINT: {
        std::uint64_t value = 0;
        ::plist_get_uint_val(node, &value);
        return static_cast<std::int64_t>(value);
    }
    case PLIST_REAL: {
        double value = 0;
        ::plist_get_real_val(node, &value);
        return value;
    }
    case PLIST_STRING:
    case PLIST_KEY: {
        char* text = nullptr;
        ::plist_get_string_val(node, &text);
        std::string value = text ? text : "";
        std::free(text);
        return value;
    }
    case PLIST_DATA: {
        char* bytes = nullptr;
        std::uint64_t length = 0;
        ::plist_get_data_val(node, &bytes, &length);
        Data data;
        data.bytes.assign(reinterpret_cast<std::uint8_t*>(bytes),
                          reinterpret_cast<std::uint8_t*>(bytes) + length);
        std::free(bytes);
        return data;
    }
    case PLIST_DATE: {
        std::int32_t seconds = 0;
        std::int32_t microseconds = 0;
        ::plist_get_date_val(node, &seconds, &microseconds);
        return Date{static_cast<double>(seconds) + static_cast<double>(microseconds) / 1e6};
    }
    case PLIST_ARRAY: {
        Array array;
        array.reserve(::plist_array_get_size(node));
        // Walked in order: a parsed array finds an item by its index by counting from the first.
        plist_array_iter iterator = nullptr;
        ::plist_array_new_iter(node, &iterator);
        std::unique_ptr<void, decltype(&std::free)> iteratorHeld(iterator, &std::free);
        while (true) {
            plist_t item = nullptr;
            ::plist_array_next_item(node, iterator, &item);
            if (item == nullptr) {
                break;
            }
            array.push_back(convert(item, depth + 1));
        }
        return array;
    }
    case PLIST_DICT: {
        Object object;
        plist_dict_iter iterator = nullptr;
        ::plist_dict_new_iter(node, &iterator);
        while (true) {
            char* key = nullptr;
            plist_t value = nullptr;
            ::plist_dict_next_item(node, iterator, &key, &value);
            if (key == nullptr) {
                break;
            }
            object.set(key, convert(value, depth + 1));
            std::free(key);
        }
        std::free(iterator);
        return object;
    }
    case PLIST_UID: {
        // As the XML form writes it, so both forms read alike and either writes it back.
        std::uint64_t value = 0;
        ::plist_get_uid_val(node, &value);
        return Object{{"CF$UID", static_cast<std::int64_t>(value)}};
    }
    default:
        return Value();
    }
}

plist_t madeNode(const Value& value, std::size_t depth);

// libplist gives no node when memory runs out, and would take the missing node for one later.
plist_t toNode(const Value& value, std::size_t depth) {
    plist_t node = madeNode(value, depth);
    if (node == nullptr) {
        throw EncodingError("The value could not be held in memory as a property list.");
    }
    return node;
}

plist_t madeNode(const Value& value, std::size_t depth) {
    if (depth > maximumNestingDepth) {
        throw EncodingError("The value nests too deeply for a property list.");
    }
    return std::visit(
        [&](const auto& item) -> plist_t {
            using T = std::decay_t<decltype(item)>;
            if constexpr (std::is_same_v<T, std::monostate>) {
                throw EncodingError("A property list cannot hold a null value.");
            } else if constexpr (std::is_same_v<T, bool>) {
                return ::plist_new_bool(item ? 1 : 0);
            } else if constexpr (std::is_same_v<T, std::int64_t> || std::is_same_v<T, std::uint64_t>) {
                // Negative numbers are stored as the 64-bit words that encode them.
                return ::plist_new_uint(static_cast<std::uint64_t>(item));
            } else if constexpr (std::is_same_v<T, double>) {
                return ::plist_new_real(item);
            } else if constexpr (std::is_same_v<T, std::string>) {
                if (item.find('\0') != std::string::npos) {
                    throw EncodingError("A property-list string cannot hold a NUL character.");
                }
                // Neither form keeps other bytes: XML would not read again, binary cuts them off.
                if (!isValidUTF8(item)) {
                    throw EncodingError("A property-list string must be UTF-8 text.");
                }
                return ::plist_new_string(item.c_str());
            } else if constexpr (std::is_same_v<T, Data>) {
                return ::plist_new_data(reinterpret_cast<const char*>(item.bytes.data()), item.bytes.size());
            } else if constexpr (std::is_same_v<T, Date>) {
                double whole = std::floor(item.secondsSinceReferenceDate);
                if (!(whole >= std::numeric_limits<std::int32_t>::min() &&
                      whole <= std::numeric_limits<std::int32_t>::max())) {
                    throw EncodingError("The date is out of the property-list range.");
                }
                auto micro = static_cast<std::int32_t>((item.secondsSinceReferenceDate - whole) * 1e6);
                return ::plist_new_date(static_cast<std::int32_t>(whole), micro);
            } else if constexpr (std::is_same_v<T, Array>) {
                std::unique_ptr<void, PlistDeleter> array(::plist_new_array());
                if (!array) {
                    return nullptr;
                }
                for (const Value& element : item) {
                    ::plist_array_append_item(static_cast<plist_t>(array.get()), toNode(element, depth + 1));
                }
                return static_cast<plist_t>(array.release());
            } else {
                std::unique_ptr<void, PlistDeleter> dictionary(::plist_new_dict());
                if (!dictionary) {
                    return nullptr;
                }
                for (const auto& [key, element] : item) {
                    if (key.find('\0') != std::string::npos) {
                        throw EncodingError("A property-list key cannot hold a NUL character.");
                    }
                    if (!isValidUTF8(key)) {
                        throw EncodingError("A property-list key must be UTF-8 text.");
                    }
                    ::plist_dict_set_item(static_cast<plist_t>(dictionary.get()), key.c_str(),
                                          toNode(element, depth + 1));
                }
                return static_cast<plist_t>(dictionary.release());
            }
        },
        value.storage());
}

// `value` in the form one of libplist's writers gives.
template <typename Write, typename Release>
std::string written(const Value& value, Write write, Release release, const char* form) {
    std::unique_ptr<void, PlistDeleter> root(toNode(value, 1));
    char* bytes = nullptr;
    std::uint32_t length = 0;
    write(static_cast<plist_t>(root.get()), &bytes, &length);
    if (bytes == nullptr) {
        throw EncodingError(std::string("The value could not be written as ") + form + " property list.");
    }
    std::string result(bytes, length);
    release(bytes);
    return result;
}

} // namespace

std::string toBinaryPropertyList(const Value& value) {
    return written(value, ::plist_to_bin, ::plist_to_bin_free, "a binary");
}

std::string toXMLPropertyList(const Value& value) {
    return written(value, ::plist_to_xml, ::plist_to_xml_free, "an XML");
}

Value fromPropertyList(std::string_view bytes) {
    // The binary form stores integers in fixed widths; the XML form as text, which is read strictly
    // by a reader of our own so that no number is silently wrapped or cut short.
    if (!bytes.starts_with("bplist")) {
        return fromXMLPropertyList(bytes);
    }
    // libplist's binary reader recurses: only a document of checked shape may reach it.
    checkBinaryPropertyList(bytes);
    plist_t root = nullptr;
    if (bytes.size() <= std::numeric_limits<std::uint32_t>::max()) {
        ::plist_from_bin(bytes.data(), static_cast<std::uint32_t>(bytes.size()), &root);
    }
    if (root == nullptr) {
        throw DecodingError(DecodingError::Kind::dataCorrupted, {},
                            "The given data was not a valid property list.");
    }
    std::unique_ptr<void, PlistDeleter> owner(root);
    return convert(root, 1);
}

} // namespace velmor::coding
