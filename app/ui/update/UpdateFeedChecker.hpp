#pragma once

#include "app/ui/update/UpdateOutcome.hpp"

#include <QByteArray>
#include <QNetworkReply>
#include <QObject>
#include <QPointer>
#include <QSslConfiguration>
#include <QTimer>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

class QNetworkAccessManager;


namespace velmor {
class Bundle;
}

namespace marrowdale {

// Fetches the update feed over HTTPS and compares its newest release with the running version.
// One check at a time; each check has a network manager of its own, so that nothing one check
// trusted (a TLS session) carries over to the next. On the main thread only.
class UpdateFeedChecker : public QObject {
public:
    struct Settings {
        // Asked at every check: the feed's address, nothing when the program has none.
        std::function<std::optional<QString>()> feedAddress;
        // The running build version ("CFBundleVersion") and what the user knows it as.
        QString runningVersion;
        QString runningDisplayVersion;
        // The TLS settings of every request: the system's unless a caller trusts otherwise.
        QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
        // The whole transfer, redirects included, must end within this.
        std::chrono::milliseconds transferLimit{30'000};
        qint64 bodyLimit = 1 << 20;
        int redirectLimit = 5;

        // The running versions from `bundle`'s information dictionary; no feed address.
        static Settings forRunningBundle(const velmor::Bundle& bundle);
    };

    UpdateFeedChecker(Settings settings, std::function<void(const UpdateOutcome&)> finished);
    // Aborts a check still running; its outcome is never reported.
    ~UpdateFeedChecker() override;

    // Starts a check, unless one is running: then this one is left out.
    void checkForUpdates();
    bool isChecking() const { return reply_ != nullptr; }
    const Settings& settings() const { return settings_; }

private:
    void readAvailable();
    void replyFinished();
    // Sends the check's request to `address`, redirects included.
    void request(const QUrl& address);
    void followRedirect(const QUrl& target);
    void end(const UpdateOutcome& outcome);
    // Drops the network objects of the check; `now` deletes them at once, else once control is
    // back in the event loop (from inside one of their own signals).
    void release(bool now);
    UpdateOutcome outcomeOfBody() const;

    Settings settings_;
    std::function<void(const UpdateOutcome&)> finished_;
    std::unique_ptr<QNetworkAccessManager> network_;
    QPointer<QNetworkReply> reply_;
    QByteArray body_;
    int redirects_ = 0;
    QTimer deadline_;
};

} // namespace marrowdale
