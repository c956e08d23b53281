#include "foundation/core/store/UserDefaultsStore.hpp"

#include "foundation/core/store/JSONDecoder.hpp"
#include "foundation/core/store/JSONEncoder.hpp"

namespace velmor {

UserDefaultsStore::UserDefaultsStore(std::shared_ptr<UserDefaults> defaults)
    : defaults_(std::move(defaults)) {}

UserDefaultsStore UserDefaultsStore::standard() {
    // The standard suite lives as long as the process: share it without owning it.
    return UserDefaultsStore(
        std::shared_ptr<UserDefaults>(std::shared_ptr<void>(), &UserDefaults::standard()));
}

const StoreEncoder& UserDefaultsStore::encoder() const {
    static const JSONEncoder encoder;
    return encoder;
}

const StoreDecoder& UserDefaultsStore::decoder() const {
    static const JSONDecoder decoder;
    return decoder;
}

std::optional<std::vector<std::uint8_t>> UserDefaultsStore::data(const std::string& name) const {
    return defaults_->data(name);
}

void UserDefaultsStore::set(const std::vector<std::uint8_t>& data, const std::string& name) {
    defaults_->set(data, name);
}

void UserDefaultsStore::clear(const std::string& name) {
    defaults_->removeObject(name);
}

} // namespace velmor
