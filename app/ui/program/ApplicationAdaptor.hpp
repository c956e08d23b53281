#pragma once

#include <QDBusAbstractAdaptor>
#include <QStringList>
#include <QVariantList>
#include <QVariantMap>

#include <functional>

namespace marrowdale {

// The program's side of the desktop's application interface on the session bus. Every call, whatever
// it carries, only brings the window forward: no address that comes with it is read.
class ApplicationAdaptor : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Application")

public:
    explicit ApplicationAdaptor(QObject* parent);

    // What every call does; nothing when unset.
    void setActivationHandler(std::function<void()> handler) { activate_ = std::move(handler); }

public slots:
    void Activate(const QVariantMap& platformData);
    void Open(const QStringList& uris, const QVariantMap& platformData);
    void ActivateAction(const QString& actionName, const QVariantList& parameter, const QVariantMap& platformData);

private:
    void activate();

    std::function<void()> activate_;
};

} // namespace marrowdale
