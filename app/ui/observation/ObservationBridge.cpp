#include "app/ui/observation/ObservationBridge.hpp"

#include "platform/concurrency/MainActor.hpp"

namespace marrowdale {

ObservationBridge::ObservationBridge(std::function<void()> refresh, QObject* parent)
    : QObject(parent), refresh_(std::move(refresh)) {}

ObservationBridge::~ObservationBridge() {
    for (auto& subscription : subscriptions_) {
        subscription.object->unsubscribe(subscription.id);
    }
}

void ObservationBridge::observe(std::shared_ptr<ObservableObject> object) {
    velmor::MainActor::assertIsolated();
    const auto id = object->subscribe([this] { changed(); });
    subscriptions_.push_back({std::move(object), id});
}

void ObservationBridge::changed() {
    velmor::MainActor::assertIsolated();
    if (pending_) {
        return;
    }
    pending_ = true;
    // Queued on this thread's own loop, with this object as context: dropped if the view goes first.
    QMetaObject::invokeMethod(
        this, [this] { flush(); }, Qt::QueuedConnection);
}

void ObservationBridge::flush() {
    if (!pending_) {
        return;
    }
    pending_ = false;
    refresh_();
}

} // namespace marrowdale
