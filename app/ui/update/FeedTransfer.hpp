#pragma once

#include <QByteArray>
#include <QString>
#include <QUrl>

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

namespace marrowdale {

// What one fetch of the update feed may use and receive.
struct FeedTransferRules {
    // Trusted instead of the system's authorities when given, as PEM (tests trust their own server).
    QByteArray trustedCertificatesPEM;
    // "" for none, else a proxy address as libcurl takes it.
    QString proxy;
    // The whole transfer, redirects included.
    std::chrono::milliseconds transferLimit;
    qint64 bodyLimit;
    // All response headers of the fetch together, those of redirects included.
    qint64 headerLimit;
    int redirectLimit;
};

// How a fetch ended: the feed's body, or why there is none.
struct FeedResponse {
    bool received = false;
    QByteArray body;
    QString failure;
};

// One GET of an https address with libcurl, on a thread of its own so that the window never waits
// for the network: only https, also for redirects, and within the rules' limits. `finished` runs on
// that thread, once, unless the transfer is dropped first.
class FeedTransfer {
public:
    FeedTransfer(const QUrl& address, FeedTransferRules rules, std::function<void(FeedResponse)> finished);
    // Stops the transfer at once and waits for its thread, which ends at once: a name look-up in
    // flight is left to end on its own. `finished` is then never called.
    ~FeedTransfer();
    FeedTransfer(const FeedTransfer&) = delete;
    FeedTransfer& operator=(const FeedTransfer&) = delete;

private:
    void run(const QUrl& address, const FeedTransferRules& rules, const std::function<void(FeedResponse)>& finished);

    void* multi_;
    std::atomic<bool> stopping_{false};
    std::thread thread_;
};

} // namespace marrowdale
