#pragma once

#include "app/model/observation/ObservableObject.hpp"

#include <QObject>

#include <functional>
#include <memory>
#include <vector>

namespace marrowdale {

// Connects a view to the model objects it draws from: every published change marks the view as
// due, and the view's refresh runs once in the next pass of the event loop, however many changes
// came meanwhile (a clean with many failures publishes many times). Main thread only.
class ObservationBridge : public QObject {
public:
    explicit ObservationBridge(std::function<void()> refresh, QObject* parent = nullptr);
    ~ObservationBridge() override;

    // Follows `object` too; its changes lead to the same refresh.
    void observe(std::shared_ptr<ObservableObject> object);

    // Runs a pending refresh now instead of in the next pass.
    void flush();
    bool isPending() const { return pending_; }

private:
    void changed();

    struct Subscription {
        std::shared_ptr<ObservableObject> object;
        ObservableObject::SubscriptionId id;
    };

    std::function<void()> refresh_;
    std::vector<Subscription> subscriptions_;
    bool pending_ = false;
};

} // namespace marrowdale
