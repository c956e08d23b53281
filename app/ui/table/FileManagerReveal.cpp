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

#include <algorithm>
#include <memory>
#include <string>

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

// What of the opener's complaint is kept for the log.
constexpr qsizetype openerMessageCap = 4096;

void tellOpenerFailure(const velmor::URL& url, const QString& parent, const std::string& why,
                       const QPointer<QWidget>& alertParent) {
    velmor::OSLogLogger("FileSelector").error([&] {
        return "Could not show " + url.path() + " in a file manager: neither the session bus nor xdg-open could open " +
               parent.toStdString() + " (" + why + ")";
    });
    if (alertParent) {
        tellFailure(url, alertParent);
    }
}

// xdg-open starts on a desktop without any handler too, and only its exit status says it opened
// nothing, so it is watched to its end. Owned by the application, so it never waits on the window.
void openParentFolder(const velmor::URL& url, const QPointer<QWidget>& alertParent) {
    const QString parent = uriOf(url.deletingLastPathComponent());
    auto* opener = new QProcess(QCoreApplication::instance());
    opener->setStandardInputFile(QProcess::nullDevice());
    opener->setStandardOutputFile(QProcess::nullDevice());
    auto said = std::make_shared<QByteArray>();
    QObject::connect(opener, &QProcess::readyReadStandardError, [opener, said] {
        const QByteArray more = opener->readAllStandardError();
        said->append(more.left(std::max<qsizetype>(0, openerMessageCap - said->size())));
    });
    QObject::connect(opener, &QProcess::errorOccurred, [=](QProcess::ProcessError error) {
        // A crash is told by `finished`, which follows it; a start that failed has nothing after it.
        if (error == QProcess::FailedToStart) {
            tellOpenerFailure(url, parent, opener->errorString().toStdString(), alertParent);
            opener->deleteLater();
        }
    });
    QObject::connect(opener, &QProcess::finished, [=](int exitCode, QProcess::ExitStatus exitStatus) {
        if (exitStatus != QProcess::NormalExit || exitCode != 0) {
            const std::string how = exitStatus == QProcess::NormalExit ? "exit status " + std::to_string(exitCode)
                                                                        : std::string("it crashed");
            const std::string message = QString::fromUtf8(*said).trimmed().toStdString();
            tellOpenerFailure(url, parent, message.empty() ? how : how + ": " + message, alertParent);
        }
        opener->deleteLater();
    });
    opener->start(QStringLiteral("xdg-open"), {parent});
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
