#pragma once

#include "app/ui/update/UpdateChannel.hpp"
#include "app/ui/update/UpdateFeedChecker.hpp"
#include "app/ui/update/UpdateManager.hpp"
#include "foundation/core/log/Logger.hpp"

#include <QMessageBox>
#include <QPointer>
#include <QUrl>

#include <functional>
#include <memory>
#include <optional>


class QWidget;

namespace marrowdale {

// The program's update manager: it owns the feed checker (made at the first check and kept), gives
// it the feed address, logs how checks end and shows each outcome in a message box. On the main
// thread only.
class SparkleUpdateManager : public UpdateManager {
public:
    static constexpr const char* loggerCategory = "SparkleUpdateManager";
    static constexpr const char* feedURLKey = "SUFeedURL";

    // `settings.feedAddress`, when empty, becomes `feedURLString`.
    SparkleUpdateManager(std::shared_ptr<const velmor::Logger> logger, UpdateFeedChecker::Settings settings);
    ~SparkleUpdateManager() override;
    SparkleUpdateManager(const SparkleUpdateManager&) = delete;
    SparkleUpdateManager& operator=(const SparkleUpdateManager&) = delete;

    // The manager of the running program: the versions of the main bundle, the system's TLS settings.
    static std::shared_ptr<SparkleUpdateManager> makeForApplication(std::shared_ptr<const velmor::Logger> logger);

    UpdateChannel updateChannel() const { return updateChannel_; }
    // The checker; made on first use.
    UpdateFeedChecker& updaterController();
    bool hasUpdaterController() const { return updaterController_ != nullptr; }
    // "SUFeedURL" of the main bundle's information dictionary when it is a text.
    static std::optional<QString> feedURLString();

    void checkForUpdates() override;

    // Where the message boxes open (the main window); none gives free-standing ones.
    void setAlertParent(QWidget* parent) { alertParent_ = parent; }
    // The message box of the last outcome, while it is open.
    QMessageBox* alert() const { return alert_; }
    // How a release's address is opened; the desktop's handler unless replaced.
    void setAddressOpener(std::function<bool(const QUrl&)> opener) { openAddress_ = std::move(opener); }

    // What the Download button does: opens the release's address, logging when that fails.
    void download(const UpdateItem& item);

private:
    void updaterDidFinish(const UpdateOutcome& outcome);
    void updaterDidNotFindUpdate(const QString& description);
    void updaterFailedToDownloadUpdate(const UpdateItem& item, const QString& description);
    void present(const UpdateOutcome& outcome);

    std::unique_ptr<UpdateFeedChecker> updaterController_;
    UpdateChannel updateChannel_ = UpdateChannel::dogfooding;
    std::shared_ptr<const velmor::Logger> logger_;
    UpdateFeedChecker::Settings settings_;
    QPointer<QWidget> alertParent_;
    QPointer<QMessageBox> alert_;
    std::function<bool(const QUrl&)> openAddress_;
};

} // namespace marrowdale
