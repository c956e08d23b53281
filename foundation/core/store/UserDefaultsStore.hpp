#pragma once

#include "foundation/core/store/Store.hpp"
#include "platform/defaults/UserDefaults.hpp"

#include <memory>

namespace velmor {

// A user-defaults suite used as a `Store`: one data entry per name, JSON coding. Unlike a disk store,
// any text without NUL is a valid name. Failures of the suite's file throw, as `UserDefaults` says.
class UserDefaultsStore final : public Store {
public:
    explicit UserDefaultsStore(std::shared_ptr<UserDefaults> defaults);
    // The store over `UserDefaults::standard()`.
    static UserDefaultsStore standard();

    const StoreEncoder& encoder() const override;
    const StoreDecoder& decoder() const override;
    const UserDefaults& defaults() const { return *defaults_; }

    std::optional<std::vector<std::uint8_t>> data(const std::string& name) const override;
    void set(const std::vector<std::uint8_t>& data, const std::string& name) override;
    void clear(const std::string& name) override;
    using Store::clear;

private:
    std::shared_ptr<UserDefaults> defaults_;
};

} // namespace velmor
