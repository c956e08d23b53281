#include "app/ui/update/SparkleUpdateManager.hpp"

#include "app/ui/text/InfoText.hpp"
#include "app/ui/text/Localized.hpp"
#include "app/ui/update/SecureAddress.hpp"
#include "platform/bundle/Bundle.hpp"
#include "platform/concurrency/MainActor.hpp"

#include <QDesktopServices>
#include <QMessageBox>
#include <QPushButton>

namespace marrowdale {

SparkleUpdateManager::SparkleUpdateManager(std::shared_ptr<const velmor::Logger> logger,
                                           UpdateFeedChecker::Settings settings)
    : logger_(std::move(logger)), settings_(std::move(settings)),
      openAddress_([](const QUrl& address) { return QDesktopServices::openUrl(address); }) {
    velmor::MainActor::assertIsolated();
    if (!settings_.feedAddress) {
        settings_.feedAddress = &SparkleUpdateManager::feedURLString;
    }
}

SparkleUpdateManager::~SparkleUpdateManager() {
    // A check still running is aborted and reports nothing; an open message box stays the window's.
    updaterController_.reset();
}

std::shared_ptr<SparkleUpdateManager>
SparkleUpdateManager::makeForApplication(std::shared_ptr<const velmor::Logger> logger) {
    return velmor::MainActor::makeShared<SparkleUpdateManager>(
        std::move(logger), UpdateFeedChecker::Settings::forRunningBundle(velmor::Bundle::main()));
}

std::optional<QString> SparkleUpdateManager::feedURLString() {
    const QString text = infoText(velmor::Bundle::main(), feedURLKey);
    if (text.isNull()) {
        return std::nullopt;
    }
    return text;
}

UpdateFeedChecker& SparkleUpdateManager::updaterController() {
    velmor::MainActor::assertIsolated();
    if (!updaterController_) {
        updaterController_ = std::make_unique<UpdateFeedChecker>(
            settings_, [this](const UpdateOutcome& outcome) { updaterDidFinish(outcome); });
    }
    return *updaterController_;
}

void SparkleUpdateManager::checkForUpdates() {
    velmor::MainActor::assertIsolated();
    updaterController().checkForUpdates();
}

void SparkleUpdateManager::updaterDidFinish(const UpdateOutcome& outcome) {
    for (const QString& skipped : outcome.skippedItems) {
        logger_->error([skipped] { return "Updater skipped an item: " + skipped.toStdString(); });
    }
    switch (outcome.kind) {
    case UpdateOutcome::Kind::updateFound:
        break;
    case UpdateOutcome::Kind::upToDate:
        updaterDidNotFindUpdate(outcome.description);
        break;
    case UpdateOutcome::Kind::failed: {
        const QString description = outcome.description;
        logger_->error([description] { return "Updater failed checking for updates: " + description.toStdString(); });
        break;
    }
    case UpdateOutcome::Kind::noFeed:
        break;
    }
    present(outcome);
}

void SparkleUpdateManager::updaterDidNotFindUpdate(const QString& description) {
    logger_->info([description] { return "Updater did not find update: " + description.toStdString(); });
}

void SparkleUpdateManager::updaterFailedToDownloadUpdate(const UpdateItem& item, const QString& description) {
    // The build version: the one the feed and the log's reader compare.
    const QString version = item.version;
    logger_->error([version, description] {
        return "Updater failed downloading item " + version.toStdString() + ": " + description.toStdString();
    });
}

void SparkleUpdateManager::download(const UpdateItem& item) {
    if (!isSecureAddress(item.address)) {
        updaterFailedToDownloadUpdate(item, QStringLiteral("The release's address is not an https address: %1")
                                                .arg(item.address.toString()));
        return;
    }
    if (!openAddress_(item.address)) {
        updaterFailedToDownloadUpdate(
            item, QStringLiteral("No program opened the release's address %1").arg(item.address.toString()));
    }
}

void SparkleUpdateManager::present(const UpdateOutcome& outcome) {
    if (alert_) {
        alert_->close();
    }
    auto* box = new QMessageBox(alertParent_);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setTextFormat(Qt::PlainText);
    box->setWindowTitle(localized("Update.Title"));
    switch (outcome.kind) {
    case UpdateOutcome::Kind::updateFound: {
        box->setIcon(QMessageBox::Information);
        box->setText(localized("Update.Found %@", outcome.item.displayVersion.toStdString()));
        box->setInformativeText(localized("Update.Running %@", settings_.runningDisplayVersion.toStdString()));
        if (isSecureAddress(outcome.item.address)) {
            QPushButton* downloadButton = box->addButton(localized("Update.Download"), QMessageBox::AcceptRole);
            const UpdateItem item = outcome.item;
            QObject::connect(downloadButton, &QPushButton::clicked, box, [this, item] { download(item); });
        }
        box->addButton(QMessageBox::Close);
        break;
    }
    case UpdateOutcome::Kind::upToDate:
        box->setIcon(QMessageBox::Information);
        box->setText(localized("Update.UpToDate"));
        box->setInformativeText(outcome.description);
        box->addButton(QMessageBox::Ok);
        break;
    case UpdateOutcome::Kind::failed:
    case UpdateOutcome::Kind::noFeed:
        box->setIcon(QMessageBox::Warning);
        box->setText(localized("Update.Failed"));
        box->setInformativeText(outcome.description);
        box->addButton(QMessageBox::Ok);
        break;
    }
    alert_ = box;
    box->open();
}

} // namespace marrowdale
