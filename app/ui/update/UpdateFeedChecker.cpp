#include "app/ui/update/UpdateFeedChecker.hpp"

#include "app/ui/text/InfoText.hpp"
#include "platform/bundle/Bundle.hpp"

#include <QNetworkAccessManager>
#include <QNetworkProxyFactory>
#include <QNetworkReply>
#include <QNetworkRequest>

namespace marrowdale {
namespace {

// The proxies the desktop is set to, asked per request without changing the process-wide factory.
class SystemProxyFactory : public QNetworkProxyFactory {
public:
    QList<QNetworkProxy> queryProxy(const QNetworkProxyQuery& query) override {
        return systemProxyForQuery(query);
    }
};

bool isSecure(const QUrl& address) {
    return address.isValid() && address.scheme() == u"https" && !address.host().isEmpty();
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
    : settings_(std::move(settings)), finished_(std::move(finished)) {
    deadline_.setSingleShot(true);
    connect(&deadline_, &QTimer::timeout, this, [this] {
        end(UpdateOutcome::failed(QStringLiteral("The update feed did not answer within %1 seconds.")
                                      .arg(settings_.transferLimit.count() / 1000.0)));
    });
}

UpdateFeedChecker::~UpdateFeedChecker() {
    release(true);
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
    if (!isSecure(address)) {
        end(UpdateOutcome::failed(
            QStringLiteral("The update feed address is not an https address: %1").arg(*feed)));
        return;
    }

    redirects_ = 0;
    network_ = std::make_unique<QNetworkAccessManager>();
    network_->setProxyFactory(new SystemProxyFactory);
    network_->setAutoDeleteReplies(false);
    request(address);
    deadline_.start(settings_.transferLimit);
}

void UpdateFeedChecker::request(const QUrl& address) {
    body_.clear();
    QNetworkRequest request(address);
    request.setSslConfiguration(settings_.tls);
    // Redirects are followed here, where each target is checked before anything is sent to it.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    reply_ = network_->get(request);
    connect(reply_, &QNetworkReply::readyRead, this, &UpdateFeedChecker::readAvailable);
    connect(reply_, &QNetworkReply::finished, this, &UpdateFeedChecker::replyFinished);
}

void UpdateFeedChecker::followRedirect(const QUrl& target) {
    if (!isSecure(target)) {
        end(UpdateOutcome::failed(
            QStringLiteral("The update feed redirected to an address that is not https: %1").arg(target.toString())));
        return;
    }
    if (++redirects_ > settings_.redirectLimit) {
        end(UpdateOutcome::failed(
            QStringLiteral("The update feed redirected more than %1 times.").arg(settings_.redirectLimit)));
        return;
    }
    QNetworkReply* previous = reply_;
    previous->disconnect(this);
    previous->deleteLater();
    request(target);
}

void UpdateFeedChecker::readAvailable() {
    const QVariant status = reply_->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    // A redirect's own body and an error page are not the feed.
    if (status.toInt() != 200) {
        reply_->skip(reply_->bytesAvailable());
        return;
    }
    const QVariant announced = reply_->header(QNetworkRequest::ContentLengthHeader);
    if (body_.size() + reply_->bytesAvailable() > settings_.bodyLimit ||
        (announced.isValid() && announced.toLongLong() > settings_.bodyLimit)) {
        end(UpdateOutcome::failed(
            QStringLiteral("The update feed is larger than %1 bytes.").arg(settings_.bodyLimit)));
        return;
    }
    body_ += reply_->readAll();
}

void UpdateFeedChecker::replyFinished() {
    const QVariant status = reply_->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    const QVariant location = reply_->attribute(QNetworkRequest::RedirectionTargetAttribute);
    if (location.isValid() && status.toInt() >= 300 && status.toInt() < 400) {
        followRedirect(reply_->url().resolved(location.toUrl()));
        return;
    }
    if (status.isValid() && status.toInt() != 200) {
        end(UpdateOutcome::failed(QStringLiteral("The update feed answered with HTTP status %1 %2.")
                                      .arg(status.toInt())
                                      .arg(reply_->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toString())
                                      .trimmed()));
        return;
    }
    if (reply_->error() != QNetworkReply::NoError) {
        end(UpdateOutcome::failed(QStringLiteral("The update feed could not be fetched: %1").arg(reply_->errorString())));
        return;
    }
    if (!status.isValid()) {
        end(UpdateOutcome::failed(QStringLiteral("The update feed gave no HTTP status.")));
        return;
    }
    readAvailable();
    if (!isChecking()) {
        return;
    }
    end(outcomeOfBody());
}

UpdateOutcome UpdateFeedChecker::outcomeOfBody() const {
    const std::optional<UpdateVersion> running = UpdateVersion::parse(settings_.runningVersion.toStdString());
    if (!running) {
        return UpdateOutcome::failed(
            QStringLiteral("The program's own version is not dot-separated numbers: \"%1\"").arg(settings_.runningVersion));
    }
    UpdateFeedReading reading = readUpdateFeed(body_, *running);
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
    release(false);
    if (finished_) {
        finished_(outcome);
    }
}

void UpdateFeedChecker::release(bool now) {
    deadline_.stop();
    if (reply_) {
        reply_->disconnect(this);
        reply_->abort();
    }
    QNetworkReply* reply = reply_;
    reply_ = nullptr;
    QNetworkAccessManager* network = network_.release();
    if (now) {
        delete reply;
        delete network;
        return;
    }
    if (reply != nullptr) {
        reply->deleteLater();
    }
    if (network != nullptr) {
        network->deleteLater();
    }
}

} // namespace marrowdale
