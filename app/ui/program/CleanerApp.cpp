#include "app/ui/program/CleanerApp.hpp"

#include "app/model/context/Context.hpp"
#include "app/ui/look/DarkLook.hpp"
#include "app/ui/program/CompatibleWindow.hpp"
#include "app/ui/program/SingleInstance.hpp"
#include "app/ui/program/TerminationSignals.hpp"
#include "app/ui/text/InfoText.hpp"
#include "app/ui/runtime/QtMainExecutor.hpp"
#include "app/ui/update/SparkleUpdateManager.hpp"
#include "app/ui/update/SparkleUpdatingSystem.hpp"
#include "foundation/core/log/OSLogLogger.hpp"
#include "platform/bundle/Bundle.hpp"

#include <QApplication>
#include <QDBusConnection>
#include <QDir>
#include <QUrl>

#include <optional>

namespace marrowdale {
namespace {

QString infoTextOr(const velmor::Bundle& bundle, const char* key, const QString& fallback) {
    const QString text = marrowdale::infoText(bundle, key);
    return text.isEmpty() ? fallback : text;
}

// What a second start hands over: its arguments as addresses, paths made absolute.
QStringList openRequest(const QStringList& arguments) {
    QStringList uris;
    for (const QString& argument : arguments) {
        uris << QUrl::fromUserInput(argument, QDir::currentPath(), QUrl::AssumeLocalFile).toString();
    }
    return uris;
}

} // namespace

int CleanerApp::main(int argc, char** argv) {
    QApplication application(argc, argv);
    const velmor::Bundle& bundle = velmor::Bundle::main();
    const QString name = infoTextOr(bundle, "CFBundleName", QStringLiteral("Marrowdale"));
    application.setApplicationName(name);
    application.setApplicationDisplayName(infoTextOr(bundle, "CFBundleDisplayName", name));
    application.setApplicationVersion(infoTextOr(bundle, "CFBundleShortVersionString", {}));
    // No desktop file is named: the program installs none, and the window carries its own icon.
    const QString identifier = infoTextOr(bundle, "CFBundleIdentifier", QStringLiteral("com.velmor.Marrowdale"));
    applyDarkLook(application);
    // The window decides when the program ends: not before a running scan or clean has stopped.
    QApplication::setQuitOnLastWindowClosed(false);

    const velmor::LoggerFactory loggerFactory = velmor::OSLogLogger::factory();
    SingleInstance instance(QDBusConnection::sessionBus(), identifier, loggerFactory("CleanerApp"));
    if (instance.role() == SingleInstance::Role::secondary) {
        return instance.forward(openRequest(application.arguments().mid(1))) ? 0 : 1;
    }

    auto executor = std::make_shared<QtMainExecutor>();
    velmor::MainActor::install(executor);
    std::shared_ptr<SparkleUpdateManager> updateManager =
        SparkleUpdateManager::makeForApplication(loggerFactory(SparkleUpdateManager::loggerCategory));
    std::optional<Context> context =
        Context::makeForApplication(std::make_shared<SparkleUpdatingSystem>(updateManager));

    auto window = std::make_unique<CompatibleWindow>(*context);
    QApplication::setWindowIcon(window->windowIcon());
    updateManager->setAlertParent(window.get());
    instance.setActivationHandler([&window] { window->bringToFront(); });
    TerminationSignals termination([&window] { window->close(); });
    window->show();
    application.exec();

    // The run has ended (the window waited for it). Undo in reverse: the widgets, then the model on
    // this thread, then whatever it left queued, and only then the executor: work that still wants
    // the main thread after that gives up as cancelled.
    instance.setActivationHandler(nullptr);
    window.reset();
    updateManager.reset();
    context.reset();
    executor->runPending();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    velmor::MainActor::uninstall();
    return 0;
}

} // namespace marrowdale
