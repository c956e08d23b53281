#include "foundation/core/store/KeychainStore.hpp"

#include "platform/text/UTF8.hpp"

namespace velmor {

KeychainStore::KeychainStore(std::string service, std::string securityClass,
                             std::shared_ptr<const Logger> logger)
    : securityClass_(std::move(securityClass)), service_(std::move(service)), logger_(std::move(logger)) {
    value_ = load();
}

void KeychainStore::setWrappedValue(std::optional<std::string> value) {
    value_ = std::move(value);
    save();
}

std::optional<std::string> KeychainStore::load() const {
    Keychain::Lookup lookup = Keychain::copyMatching(query());
    if (lookup.status.status == errSecItemNotFound) {
        return std::nullopt;
    }
    if (lookup.status.status != errSecSuccess) {
        logFailure("loading", lookup.status.errorMessage);
        return std::nullopt;
    }
    if (!lookup.data) {
        logFailure("loading", "unexpectedData");
        return std::nullopt;
    }
    // An item whose bytes are no text still exists: it loads as empty text, not as nothing.
    return isValidUTF8(*lookup.data) ? *lookup.data : std::string();
}

void KeychainStore::save() const {
    if (!value_) {
        KeychainStatus status = Keychain::remove(query());
        if (status.status != errSecSuccess && status.status != errSecItemNotFound) {
            logFailure("deleting", status.errorMessage);
        }
        return;
    }
    if (!isValidUTF8(*value_)) {
        // Deleting instead, as a failed encoding once did, would lose the stored secret.
        logFailure("storing", "the value is not valid UTF-8 text, so the stored item was kept");
        return;
    }
    KeychainStatus status = Keychain::store(query(), *value_);
    if (status.status != errSecSuccess) {
        logFailure("storing", status.errorMessage);
    }
}

void KeychainStore::logFailure(const char* action, const std::string& message) const {
    if (!logger_ || message.empty()) {
        return;
    }
    logger_->error([&] {
        return std::string("Error while ") + action + " keychain item for service " + service_ + ": " +
               message;
    });
}

} // namespace velmor
