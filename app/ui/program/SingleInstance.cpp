#include "app/ui/program/SingleInstance.hpp"

#include "app/ui/program/ApplicationAdaptor.hpp"
#include "platform/concurrency/MainActor.hpp"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusReply>

namespace marrowdale {

namespace {
constexpr int callTimeoutMilliseconds = 10'000;
}

SingleInstance::SingleInstance(QDBusConnection bus, const QString& name, std::shared_ptr<const velmor::Logger> logger)
    : bus_(std::move(bus)), name_(name), logger_(std::move(logger)) {
    if (!bus_.isConnected()) {
        const std::string reason = bus_.lastError().message().toStdString();
        logger_->default_([reason] {
            return "No session bus (" + (reason.empty() ? std::string("none found") : reason) +
                   "): this start runs on its own and other starts will not find it";
        });
        return;
    }
    // The object is in place before the name is ours, so a caller who sees the name finds it.
    adaptor_ = new ApplicationAdaptor(this);
    if (!bus_.registerObject(objectPath(name_), this, QDBusConnection::ExportAdaptors)) {
        const std::string reason = bus_.lastError().message().toStdString();
        logger_->error([reason] { return "Could not serve the application object on the session bus: " + reason; });
        return;
    }
    const QDBusReply<QDBusConnectionInterface::RegisterServiceReply> reply = bus_.interface()->registerService(
        name_, QDBusConnectionInterface::DontQueueService, QDBusConnectionInterface::DontAllowReplacement);
    if (!reply.isValid()) {
        const std::string reason = reply.error().message().toStdString();
        const std::string name = name_.toStdString();
        logger_->error([reason, name] { return "Could not ask the session bus for the name " + name + ": " + reason; });
        bus_.unregisterObject(objectPath(name_));
        return;
    }
    if (reply.value() == QDBusConnectionInterface::ServiceRegistered) {
        role_ = Role::primary;
    } else {
        role_ = Role::secondary;
        bus_.unregisterObject(objectPath(name_));
    }
}

SingleInstance::~SingleInstance() {
    if (role_ == Role::primary) {
        bus_.unregisterObject(objectPath(name_));
        bus_.interface()->unregisterService(name_);
    }
}

QString SingleInstance::objectPath(const QString& name) {
    QString path = u'/' + name;
    path.replace(u'.', u'/');
    path.replace(u'-', u'_');
    return path;
}

void SingleInstance::setActivationHandler(std::function<void()> handler) {
    if (adaptor_ != nullptr) {
        adaptor_->setActivationHandler(std::move(handler));
    }
}

bool SingleInstance::forward(const QStringList& uris) const {
    QDBusMessage call = QDBusMessage::createMethodCall(name_, objectPath(name_), interfaceName,
                                                       uris.isEmpty() ? "Activate" : "Open");
    if (uris.isEmpty()) {
        call << QVariantMap();
    } else {
        call << uris << QVariantMap();
    }
    // Events keep turning while the call waits, so that an owner in this same process can answer.
    const QDBusMessage answer = bus_.call(call, QDBus::BlockWithGui, callTimeoutMilliseconds);
    if (answer.type() == QDBusMessage::ErrorMessage) {
        const std::string name = name_.toStdString();
        const std::string reason = answer.errorMessage().toStdString();
        logger_->error([name, reason] { return "The running program (" + name + ") did not take the open request: " + reason; });
        return false;
    }
    return true;
}

} // namespace marrowdale
