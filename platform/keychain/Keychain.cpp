#include "platform/keychain/Keychain.hpp"

#include "platform/text/UTF8.hpp"

#include <libsecret/secret.h>

#include <memory>

namespace velmor {

namespace {

const SecretSchema* itemSchema() {
    static const SecretSchema schema = {
        "com.velmor.foundation.KeychainItem",
        SECRET_SCHEMA_NONE,
        {
            {"class", SECRET_SCHEMA_ATTRIBUTE_STRING},
            {"service", SECRET_SCHEMA_ATTRIBUTE_STRING},
            {nullptr, SECRET_SCHEMA_ATTRIBUTE_STRING},
        },
        0,
        nullptr,
        nullptr,
        nullptr,
        nullptr,
        nullptr,
        nullptr,
        nullptr,
    };
    return &schema;
}

struct ErrorDeleter {
    void operator()(GError* error) const { ::g_error_free(error); }
};

// Takes ownership of a GError a call left behind, and turns it into a failure status.
KeychainStatus failure(GError* error) {
    std::unique_ptr<GError, ErrorDeleter> owner(error);
    return {errSecIO, error->message ? error->message : ""};
}

// D-Bus carries attributes as UTF-8 strings, and libsecret takes them as C text: anything else would
// be rejected on the way or, cut at a NUL, address another item.
std::optional<KeychainStatus> invalidQuery(const KeychainItemQuery& query) {
    for (const std::string* text : {&query.securityClass, &query.service}) {
        if (!isValidUTF8(*text) || text->find('\0') != std::string::npos) {
            return KeychainStatus{errSecParam,
                                  "The item's class and service must be UTF-8 text without NUL."};
        }
    }
    return std::nullopt;
}

// Whether the Secret Service holds an item matching `query` in a locked collection: a lookup gives
// nothing for it, without an error. The service's own search says so directly, whatever libsecret
// keeps cached about the collections.
bool matchesLockedItem(const KeychainItemQuery& query) {
    GError* error = nullptr;
    SecretService* service = ::secret_service_get_sync(SECRET_SERVICE_NONE, nullptr, &error);
    if (service == nullptr) {
        std::unique_ptr<GError, ErrorDeleter> owner(error);
        return false;
    }
    GVariantBuilder attributes;
    ::g_variant_builder_init(&attributes, G_VARIANT_TYPE("a{ss}"));
    ::g_variant_builder_add(&attributes, "{ss}", "xdg:schema", itemSchema()->name);
    ::g_variant_builder_add(&attributes, "{ss}", "class", query.securityClass.c_str());
    ::g_variant_builder_add(&attributes, "{ss}", "service", query.service.c_str());
    GVariant* reply = ::g_dbus_proxy_call_sync(G_DBUS_PROXY(service), "SearchItems",
                                               ::g_variant_new("(a{ss})", &attributes), G_DBUS_CALL_FLAGS_NONE,
                                               -1, nullptr, &error);
    ::g_object_unref(service);
    if (reply == nullptr) {
        std::unique_ptr<GError, ErrorDeleter> owner(error);
        return false;
    }
    GVariant* locked = ::g_variant_get_child_value(reply, 1);
    bool found = ::g_variant_n_children(locked) > 0;
    ::g_variant_unref(locked);
    ::g_variant_unref(reply);
    return found;
}

} // namespace

Keychain::Lookup Keychain::copyMatching(const KeychainItemQuery& query) {
    if (auto invalid = invalidQuery(query)) {
        return {*invalid, std::nullopt};
    }
    GError* error = nullptr;
    SecretValue* value = ::secret_password_lookup_binary_sync(itemSchema(), nullptr, &error, "class",
                                                              query.securityClass.c_str(), "service",
                                                              query.service.c_str(), nullptr);
    if (error != nullptr) {
        if (value != nullptr) {
            ::secret_value_unref(value);
        }
        return {failure(error), std::nullopt};
    }
    if (value == nullptr) {
        if (matchesLockedItem(query)) {
            return {{errSecInteractionNotAllowed, "The item is in a locked keyring, so its value cannot be read."},
                    std::nullopt};
        }
        return {{errSecItemNotFound, ""}, std::nullopt};
    }
    gsize length = 0;
    const gchar* bytes = ::secret_value_get(value, &length);
    std::string data(bytes ? bytes : "", bytes ? length : 0);
    ::secret_value_unref(value);
    Lookup lookup;
    lookup.data = std::move(data);
    return lookup;
}

KeychainStatus Keychain::store(const KeychainItemQuery& query, const std::string& data) {
    if (auto invalid = invalidQuery(query)) {
        return *invalid;
    }
    SecretValue* value = ::secret_value_new(data.data(), static_cast<gssize>(data.size()), "text/plain");
    GError* error = nullptr;
    gboolean stored = ::secret_password_store_binary_sync(
        itemSchema(), SECRET_COLLECTION_DEFAULT, query.service.c_str(), value, nullptr, &error, "class",
        query.securityClass.c_str(), "service", query.service.c_str(), nullptr);
    ::secret_value_unref(value);
    if (error != nullptr) {
        return failure(error);
    }
    return stored ? KeychainStatus{} : KeychainStatus{errSecIO, "The item could not be stored."};
}

KeychainStatus Keychain::remove(const KeychainItemQuery& query) {
    if (auto invalid = invalidQuery(query)) {
        return *invalid;
    }
    GError* error = nullptr;
    gboolean removed =
        ::secret_password_clear_sync(itemSchema(), nullptr, &error, "class", query.securityClass.c_str(),
                                     "service", query.service.c_str(), nullptr);
    if (error != nullptr) {
        return failure(error);
    }
    return removed ? KeychainStatus{} : KeychainStatus{errSecItemNotFound, ""};
}

} // namespace velmor
