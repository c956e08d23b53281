#pragma once

#include <cstdint>
#include <functional>
#include <map>

namespace marrowdale {

// Lets views follow a model object: subscribers are told, on the main thread where the model
// lives, each time a published property has changed, so they read the new value.
class ObservableObject {
public:
    using SubscriptionId = std::uint64_t;

    SubscriptionId subscribe(std::function<void()> onChange) {
        const SubscriptionId id = nextId_++;
        observers_.emplace(id, std::move(onChange));
        return id;
    }
    void unsubscribe(SubscriptionId id) { observers_.erase(id); }

protected:
    ObservableObject() = default;
    ~ObservableObject() = default;

    void publishChange() {
        // A subscriber may unsubscribe while it is told: walk over a copy.
        auto observers = observers_;
        for (auto& [id, observer] : observers) {
            observer();
        }
    }

private:
    std::map<SubscriptionId, std::function<void()>> observers_;
    SubscriptionId nextId_ = 1;
};

} // namespace marrowdale
