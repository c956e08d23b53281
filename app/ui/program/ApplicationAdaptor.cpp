#include "app/ui/program/ApplicationAdaptor.hpp"

namespace marrowdale {

ApplicationAdaptor::ApplicationAdaptor(QObject* parent) : QDBusAbstractAdaptor(parent) {}

void ApplicationAdaptor::Activate(const QVariantMap&) {
    activate();
}

void ApplicationAdaptor::Open(const QStringList&, const QVariantMap&) {
    activate();
}

void ApplicationAdaptor::ActivateAction(const QString&, const QVariantList&, const QVariantMap&) {
    activate();
}

void ApplicationAdaptor::activate() {
    if (activate_) {
        activate_();
    }
}

} // namespace marrowdale
