#include "app/ui/table/FileManagerReveal.hpp"

#include "app/ui/text/DisplayText.hpp"
#include "app/ui/text/Localized.hpp"
#include "foundation/core/log/OSLogLogger.hpp"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QMessageBox>
#include <QPointer>
#include <QProcess>
#include <QStringList>
#include <QWidget>

namespace marrowdale {

namespace {

// The uri keeps the name's bytes, percent-encoded: made from a QString, a name that is no UTF-8
// would turn into the name of another file.
QString uriOf(const velmor::URL& url) {
    return QString::fromStdString(url.absoluteString());
}

void tellFailure(const velmor::URL& url, QWidget* parent) {
    auto* box = new QMessageBox(parent);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setTextFormat(Qt::PlainText);
    box->setIcon(QMessageBox::Warning);
    box->setText(localized("FileSelector.RevealFailed"));
    box->setInformativeText(localized("FileSelector.RevealFailed.Detail") + QLatin1Char('\n') +
                            displayText(url.path()));
    box->addButton(QMessageBox::Ok);
    box->open();
}

void openParentFolder(const velmor::URL& url, const QPointer<QWidget>& alertParent) {
    const QString parent = uriOf(url.deletingLastPathComponent());
    if (!QProcess::startDetached(QStringLiteral("xdg-open"), {parent})) {
        velmor::OSLogLogger("FileSelector").error([&] {
            return "Could not show " + url.path() +
                   " in a file manager: neither the session bus nor xdg-open " + "could open " +
                   parent.toStdString();
        });
        if (alertParent) {
            tellFailure(url, alertParent);
        }
    }
}

} // namespace

void revealInFileManager(const velmor::URL& url, QDBusConnection bus, QWidget* alertParent) {
    // The reply may come after the widget has gone.
    const QPointer<QWidget> parent(alertParent);
    if (!bus.isConnected()) {
        openParentFolder(url, parent);
        return;
    }
    QDBusMessage message = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("/org/freedesktop/FileManager1"),
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
    message << QStringList{uriOf(url)} << QString();
    // Owned by the application, so a reply that never comes costs nothing past its end.
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(message), QCoreApplication::instance());
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, [url, parent](QDBusPendingCallWatcher* finished) {
        if (finished->isError()) {
            openParentFolder(url, parent);
        }
        finished->deleteLater();
    });
}

} // namespace marrowdale
