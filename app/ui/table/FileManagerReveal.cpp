#include "app/ui/table/FileManagerReveal.hpp"

#include "foundation/core/log/OSLogLogger.hpp"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QProcess>
#include <QStringList>

namespace marrowdale {

namespace {

// The uri keeps the name's bytes, percent-encoded: made from a QString, a name that is no UTF-8
// would turn into the name of another file.
QString uriOf(const velmor::URL& url) {
    return QString::fromStdString(url.absoluteString());
}

void openParentFolder(const velmor::URL& url) {
    const QString parent = uriOf(url.deletingLastPathComponent());
    if (!QProcess::startDetached(QStringLiteral("xdg-open"), {parent})) {
        velmor::OSLogLogger("FileSelector").error([&] {
            return "Could not show " + url.path() +
                   " in a file manager: neither the session bus nor xdg-open " + "could open " +
                   parent.toStdString();
        });
    }
}

} // namespace

void revealInFileManager(const velmor::URL& url, QDBusConnection bus) {
    if (!bus.isConnected()) {
        openParentFolder(url);
        return;
    }
    QDBusMessage message = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("/org/freedesktop/FileManager1"),
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
    message << QStringList{uriOf(url)} << QString();
    // Owned by the application, so a reply that never comes costs nothing past its end.
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(message), QCoreApplication::instance());
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, [url](QDBusPendingCallWatcher* finished) {
        if (finished->isError()) {
            openParentFolder(url);
        }
        finished->deleteLater();
    });
}

} // namespace marrowdale
