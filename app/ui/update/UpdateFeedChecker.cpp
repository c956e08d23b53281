#include "app/ui/update/UpdateFeedChecker.hpp"

#include "app/ui/text/InfoText.hpp"
#include "app/ui/update/SecureAddress.hpp"
#include "platform/bundle/Bundle.hpp"

#include <QMetaObject>
#include <QNetworkProxyFactory>

namespace marrowdale {
namespace {

// The proxy the desktop is set to for `address`, as libcurl takes it; "" for none.
QString proxyFor(const QUrl& address) {
    for (const QNetworkProxy& proxy : QNetworkProxyFactory::systemProxyForQuery(QNetworkProxyQuery(address))) {
        QUrl url;
        switch (proxy.type()) {
        case QNetworkProxy::NoProxy:
            return {};
        case QNetworkProxy::HttpProxy:
            url.setScheme(QStringLiteral("http"));
            break;
        case QNetworkProxy::Socks5Proxy:
            url.setScheme(QStringLiteral("socks5h"));
            break;
        default:
            continue;
        }
        url.setHost(proxy.hostName());
        url.setPort(proxy.port());
        url.setUserName(proxy.user());
        url.setPassword(proxy.password());
        return url.toString(QUrl::FullyEncoded);
    }
    return {};
}

QByteArray pem(const QList<QSslCertificate>& certificates) {
    QByteArray text;
    for (const QSslCertificate& certificate : certificates) {
        text += certificate.toPem();
    }
    return text;
}

} // namespace

UpdateFeedChecker::Settings UpdateFeedChecker::Settings::forRunningBundle(const velmor::Bundle& bundle) {
    Settings settings;
    settings.runningVersion = infoText(bundle, "CFBundleVersion");
    settings.runningDisplayVersion = infoText(bundle, "CFBundleShortVersionString");
    if (settings.runningDisplayVersion.isEmpty()) {
        settings.runningDisplayVersion = settings.runningVersion;
    }
    return settings;
}

UpdateFeedChecker::UpdateFeedChecker(Settings settings, std::function<void(const UpdateOutcome&)> finished)
    : settings_(std::move(settings)), finished_(std::move(finished)) {}

UpdateFeedChecker::~UpdateFeedChecker() {
    // Before the object goes: once the transfer's thread has ended, nothing more is posted to it.
    transfer_.reset();
}

void UpdateFeedChecker::checkForUpdates() {
    if (isChecking()) {
        return;
    }
    const std::optional<QString> feed = settings_.feedAddress ? settings_.feedAddress() : std::nullopt;
    if (!feed || feed->trimmed().isEmpty()) {
        end(UpdateOutcome::noFeed(QStringLiteral("The program has no update feed address.")));
        return;
    }
    const QUrl address(feed->trimmed(), QUrl::StrictMode);
    if (!isSecureAddress(address)) {
        end(UpdateOutcome::failed(
            QStringLiteral("The update feed address is not an https address: %1").arg(*feed)));
        return;
    }
    FeedTransferRules rules{pem(settings_.trustedCertificates), proxyFor(address), settings_.transferLimit,
                            settings_.bodyLimit,  settings_.headerLimit,           settings_.redirectLimit};
    transfer_ = std::make_unique<FeedTransfer>(address, std::move(rules), [this](FeedResponse response) {
        // Posted to this object: dropped with it, should it go first.
        QMetaObject::invokeMethod(
            this, [this, response = std::move(response)]() mutable { transferFinished(std::move(response)); },
            Qt::QueuedConnection);
    });
}

void UpdateFeedChecker::transferFinished(FeedResponse response) {
    // Its thread has handed the response over and ends now.
    transfer_.reset();
    end(response.received ? outcomeOfBody(response.body) : UpdateOutcome::failed(response.failure));
}

UpdateOutcome UpdateFeedChecker::outcomeOfBody(const QByteArray& body) const {
    const std::optional<UpdateVersion> running = UpdateVersion::parse(settings_.runningVersion.toStdString());
    if (!running) {
        return UpdateOutcome::failed(
            QStringLiteral("The program's own version is not dot-separated numbers: \"%1\"").arg(settings_.runningVersion));
    }
    UpdateFeedReading reading = readUpdateFeed(body, *running);
    UpdateOutcome outcome;
    switch (reading.kind) {
    case UpdateFeedReading::Kind::newer:
        outcome = UpdateOutcome::found(std::move(reading.item));
        break;
    case UpdateFeedReading::Kind::upToDate:
        outcome = UpdateOutcome::upToDate(
            QStringLiteral("Version %1 is the newest version available.").arg(settings_.runningDisplayVersion));
        break;
    case UpdateFeedReading::Kind::unreadable:
        outcome = UpdateOutcome::failed(reading.failure);
        break;
    }
    outcome.skippedItems = std::move(reading.skipped);
    return outcome;
}

void UpdateFeedChecker::end(const UpdateOutcome& outcome) {
    if (finished_) {
        finished_(outcome);
    }
}

} // namespace marrowdale
