#include "platform/coding/PropertyList.hpp"

#include "platform/coding/Decoding.hpp"
#include "platform/coding/XMLPropertyList.hpp"

#include <cstdlib>
#include <limits>
#include <memory>
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
        std::uint32_t count = ::plist_array_get_size(node);
        array.reserve(count);
        for (std::uint32_t index = 0; index < count; ++index) {
            array.push_back(convert(::plist_array_get_item(node, index), depth + 1));
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
    default:
        return Value();
    }
}

} // namespace

Value fromPropertyList(std::string_view bytes) {
    // The binary form stores integers in fixed widths; the XML form as text, which is read strictly
    // by a reader of our own so that no number is silently wrapped or cut short.
    if (!bytes.starts_with("bplist")) {
        return fromXMLPropertyList(bytes);
    }
    plist_t root = nullptr;
    if (!bytes.empty() && bytes.size() <= std::numeric_limits<std::uint32_t>::max()) {
        ::plist_from_memory(bytes.data(), static_cast<std::uint32_t>(bytes.size()), &root);
    }
    if (root == nullptr) {
        throw DecodingError(DecodingError::Kind::dataCorrupted, {},
                            "The given data was not a valid property list.");
    }
    std::unique_ptr<void, PlistDeleter> owner(root);
    return convert(root, 1);
}

} // namespace velmor::coding
