#include "platform/bundle/Bundle.hpp"

#include <plist/plist.h>

#include <climits>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <unistd.h>

namespace velmor {

namespace {

using PlistPointer = std::unique_ptr<std::remove_pointer_t<plist_t>, decltype(&::plist_free)>;

coding::Value toValue(plist_t node) {
    switch (::plist_get_node_type(node)) {
    case PLIST_BOOLEAN: {
        std::uint8_t value = 0;
        ::plist_get_bool_val(node, &value);
        return value != 0;
    }
    case PLIST_UINT: {
        std::uint64_t value = 0;
        ::plist_get_uint_val(node, &value);
        return value;
    }
    case PLIST_REAL: {
        double value = 0;
        ::plist_get_real_val(node, &value);
        return value;
    }
    case PLIST_STRING: {
        char* text = nullptr;
        ::plist_get_string_val(node, &text);
        std::string value = text ? text : "";
        std::free(text);
        return value;
    }
    case PLIST_DATE: {
        std::int32_t seconds = 0, microseconds = 0;
        ::plist_get_date_val(node, &seconds, &microseconds);
        return coding::Date{seconds + microseconds / 1e6};
    }
    case PLIST_DATA: {
        char* bytes = nullptr;
        std::uint64_t length = 0;
        ::plist_get_data_val(node, &bytes, &length);
        coding::Data data;
        data.bytes.assign(reinterpret_cast<std::uint8_t*>(bytes),
                          reinterpret_cast<std::uint8_t*>(bytes) + length);
        std::free(bytes);
        return data;
    }
    case PLIST_ARRAY: {
        coding::Array array;
        std::uint32_t count = ::plist_array_get_size(node);
        for (std::uint32_t i = 0; i < count; ++i) {
            array.push_back(toValue(::plist_array_get_item(node, i)));
        }
        return array;
    }
    case PLIST_DICT: {
        coding::Object object;
        plist_dict_iter iterator = nullptr;
        ::plist_dict_new_iter(node, &iterator);
        while (true) {
            char* key = nullptr;
            plist_t item = nullptr;
            ::plist_dict_next_item(node, iterator, &key, &item);
            if (item == nullptr) {
                std::free(key);
                break;
            }
            object.set(key ? key : "", toValue(item));
            std::free(key);
        }
        std::free(iterator);
        return object;
    }
    default:
        return nullptr;
    }
}

std::optional<coding::Object> readInfoDictionary(const URL& bundleURL) {
    std::ifstream file(bundleURL.appendingPathComponent("Info.plist").path(), std::ios::binary);
    if (!file) {
        return std::nullopt;
    }
    std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    if (bytes.empty() || bytes.size() > UINT32_MAX) {
        return std::nullopt;
    }
    plist_t root = nullptr;
    ::plist_from_memory(bytes.data(), static_cast<std::uint32_t>(bytes.size()), &root);
    if (root == nullptr) {
        return std::nullopt;
    }
    PlistPointer owner(root, &::plist_free);
    if (::plist_get_node_type(root) != PLIST_DICT) {
        return std::nullopt;
    }
    coding::Value value = toValue(root);
    return *value.get<coding::Object>();
}

std::string executableFolder() {
    char buffer[PATH_MAX];
    ssize_t length = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (length <= 0) {
        return "";
    }
    return URL::fileURL(std::string(buffer, static_cast<std::size_t>(length)))
        .deletingLastPathComponent()
        .path();
}

} // namespace

Bundle::Bundle(URL bundleURL) : url_(std::move(bundleURL)), info_(readInfoDictionary(url_)) {}

const Bundle& Bundle::main() {
    static const Bundle bundle(mainBundleURL());
    return bundle;
}

URL Bundle::mainBundleURL() {
    const char* configured = std::getenv(mainBundleEnvironmentKey);
    if (configured != nullptr && *configured != '\0') {
        return URL::fileURL(configured);
    }
    return URL::fileURL(executableFolder());
}

const coding::Value* Bundle::objectForInfoDictionaryKey(const std::string& key) const {
    return info_ ? info_->find(key) : nullptr;
}

std::optional<std::string> Bundle::bundleIdentifier() const {
    auto value = objectForInfoDictionaryKey("CFBundleIdentifier");
    if (auto text = value ? value->get<std::string>() : nullptr) {
        return *text;
    }
    return std::nullopt;
}

} // namespace velmor
