#pragma once

#include "app/ui/update/FeedTransfer.hpp"
#include "app/ui/update/UpdateOutcome.hpp"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QSslCertificate>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

namespace velmor {
class Bundle;
}

namespace marrowdale {

// Fetches the update feed over HTTPS and compares its newest release with the running version.
// One check at a time; each check is a transfer of its own, so that nothing one check trusted (a
// TLS session) carries over to the next. On the main thread only; the transfer runs off it and its
// outcome comes back to it.
class UpdateFeedChecker : public QObject {
public:
    struct Settings {
        // Asked at every check: the feed's address, nothing when the program has none.
        std::function<std::optional<QString>()> feedAddress;
        // The running build version ("CFBundleVersion") and what the user knows it as.
        QString runningVersion;
        QString runningDisplayVersion;
        // Trusted instead of the system's authorities when given.
        QList<QSslCertificate> trustedCertificates;
        // The whole transfer, redirects included, must end within this.
        std::chrono::milliseconds transferLimit{30'000};
        qint64 bodyLimit = 1 << 20;
        // All response headers of one check together.
        qint64 headerLimit = 64 << 10;
        int redirectLimit = 5;

        // The running versions from `bundle`'s information dictionary; no feed address.
        static Settings forRunningBundle(const velmor::Bundle& bundle);
    };

    UpdateFeedChecker(Settings settings, std::function<void(const UpdateOutcome&)> finished);
    // Aborts a check still running; its outcome is never reported.
    ~UpdateFeedChecker() override;

    // Starts a check, unless one is running: then this one is left out.
    void checkForUpdates();
    bool isChecking() const { return transfer_ != nullptr; }
    const Settings& settings() const { return settings_; }

private:
    void transferFinished(FeedResponse response);
    void end(const UpdateOutcome& outcome);
    UpdateOutcome outcomeOfBody(const QByteArray& body) const;

    Settings settings_;
    std::function<void(const UpdateOutcome&)> finished_;
    std::unique_ptr<FeedTransfer> transfer_;
};

} // namespace marrowdale
