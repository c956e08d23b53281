#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace velmor {

// Keychain items, kept in the Secret Service of the user's session (libsecret). An item is addressed
// by its class and service together; it lives in the default collection, labelled with its service.
using OSStatus = std::int32_t;

inline constexpr OSStatus errSecSuccess = 0;
inline constexpr OSStatus errSecItemNotFound = -25300;
// A class or service that is not UTF-8 text without NUL, which the Secret Service cannot carry.
inline constexpr OSStatus errSecParam = -50;
// Any failure of the Secret Service (no session bus, no service, a locked collection ...).
inline constexpr OSStatus errSecIO = -36;
// The item is there but locked away, and the session could not unlock it.
inline constexpr OSStatus errSecInteractionNotAllowed = -25308;

inline constexpr const char* kSecClassGenericPassword = "genp";
inline constexpr const char* kSecClassInternetPassword = "inet";

struct KeychainItemQuery {
    std::string securityClass;
    std::string service;
};

// The outcome of a keychain call: a status and, for failures, the service's own message.
struct KeychainStatus {
    OSStatus status = errSecSuccess;
    std::string errorMessage;
};

class Keychain {
public:
    struct Lookup {
        KeychainStatus status;
        // The item's value bytes as stored, valid UTF-8 or not; set when the status is success.
        std::optional<std::string> data;
    };

    // Nothing found is errSecItemNotFound, not an error; an item that is there but in a locked
    // collection is errSecInteractionNotAllowed.
    static Lookup copyMatching(const KeychainItemQuery& query);
    // Adds the item or replaces the value of the item with the same class and service, in one call.
    static KeychainStatus store(const KeychainItemQuery& query, const std::string& data);
    // errSecItemNotFound when there was no such item.
    static KeychainStatus remove(const KeychainItemQuery& query);
};

} // namespace velmor
