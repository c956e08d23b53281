#pragma once

#include "foundation/core/log/Logger.hpp"

#include <QDBusConnection>
#include <QObject>
#include <QStringList>

#include <functional>
#include <memory>

namespace marrowdale {

class ApplicationAdaptor;

// One program per desktop session: the first to start owns the bundle identifier as a name on the
// session bus and serves the desktop's application interface there; a later start finds the name
// taken and hands its arguments to the first. Without a bus every start runs on its own.
class SingleInstance : public QObject {
public:
    static constexpr const char* interfaceName = "org.freedesktop.Application";

    enum class Role {
        // Owns the name: this process shows the window.
        primary,
        // Another process owns the name: this one forwards and ends.
        secondary,
        // No bus to ask, or the bus refused: this process runs on its own.
        alone,
    };

    // Registers the application object on `bus` and asks for `name`, never queueing for it nor
    // taking it over. On the main thread.
    SingleInstance(QDBusConnection bus, const QString& name, std::shared_ptr<const velmor::Logger> logger);
    ~SingleInstance() override;

    Role role() const { return role_; }
    // The object path of the application interface for `name`: its dots become slashes.
    static QString objectPath(const QString& name);

    // As the primary: what open events do.
    void setActivationHandler(std::function<void()> handler);
    // As the secondary: asks the owner to open `uris`, or to come forward when there are none. False,
    // with the reason logged, when the call fails.
    bool forward(const QStringList& uris) const;

private:
    QDBusConnection bus_;
    QString name_;
    std::shared_ptr<const velmor::Logger> logger_;
    Role role_ = Role::alone;
    ApplicationAdaptor* adaptor_ = nullptr;
};

} // namespace marrowdale
