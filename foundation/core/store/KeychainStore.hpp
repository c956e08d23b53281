#pragma once

#include "foundation/core/log/Logger.hpp"
#include "platform/keychain/Keychain.hpp"

#include <memory>
#include <optional>
#include <string>

namespace velmor {

// Mirrors one text value into one keychain item, addressed by its class and service: the item is
// loaded when the store is made, and every assignment writes it back (nothing deletes the item).
//
// Nothing throws: a failed load gives nothing, a failed write is lost, and either is logged at error
// level when a logger was given. A copy holds its own value; a write through one copy is seen by
// another only once a new store is made.
class KeychainStore {
public:
    KeychainStore(std::string service, std::string securityClass,
                  std::shared_ptr<const Logger> logger = nullptr);

    // The value as last loaded or assigned; reading does not go back to the keychain.
    const std::optional<std::string>& wrappedValue() const { return value_; }
    // Keeps `value` and saves it. Text that is not valid UTF-8 is refused with an error line and the
    // stored item is kept as it was.
    void setWrappedValue(std::optional<std::string> value);

    const std::string& service() const { return service_; }
    const std::string& securityClass() const { return securityClass_; }
    const std::shared_ptr<const Logger>& logger() const { return logger_; }

private:
    KeychainItemQuery query() const { return {securityClass_, service_}; }
    std::optional<std::string> load() const;
    void save() const;
    void logFailure(const char* action, const std::string& message) const;

    std::optional<std::string> value_;
    std::string securityClass_;
    std::string service_;
    std::shared_ptr<const Logger> logger_;
};

} // namespace velmor
