#include "app/ui/update/FeedTransfer.hpp"

#include "app/ui/update/SecureAddress.hpp"

#include <curl/curl.h>

#include <memory>
#include <mutex>
#include <string>

namespace marrowdale {
namespace {

// What the responses of one fetch brought, redirects included.
struct Received {
    explicit Received(const FeedTransferRules& rules) : rules(rules) {}

    const FeedTransferRules& rules;
    qint64 headerBytes = 0;
    qint64 bodyBytes = 0;
    bool headersTooLarge = false;
    bool bodyTooLarge = false;
    // Of the latest response.
    long status = 0;
    QByteArray reason;
    QByteArray location;
    QByteArray body;
};

// Counts `bytes` into `total`; false, with `over` set, once past `limit`.
bool withinLimit(qint64& total, qint64 limit, bool& over, size_t bytes) {
    total += static_cast<qint64>(bytes);
    over = total > limit;
    return !over;
}

size_t onHeader(char* data, size_t size, size_t count, void* user) {
    auto& received = *static_cast<Received*>(user);
    const size_t bytes = size * count;
    // libcurl caps one header line, not how many lines come.
    if (!withinLimit(received.headerBytes, received.rules.headerLimit, received.headersTooLarge, bytes)) {
        return 0;
    }
    const QByteArray line = QByteArray(data, static_cast<qsizetype>(bytes)).trimmed();
    if (line.startsWith("HTTP/")) {
        // A new response, after a redirect: nothing of the one before is the feed.
        const qsizetype code = line.indexOf(' ');
        const qsizetype reason = code < 0 ? -1 : line.indexOf(' ', code + 1);
        received.status = code < 0 ? 0 : line.mid(code + 1, reason < 0 ? -1 : reason - code - 1).toLong();
        received.reason = reason < 0 ? QByteArray() : line.mid(reason + 1).trimmed();
        received.location.clear();
        received.body.clear();
    } else if (line.toLower().startsWith("location:")) {
        received.location = line.mid(9).trimmed();
    }
    return bytes;
}

size_t onBody(char* data, size_t size, size_t count, void* user) {
    auto& received = *static_cast<Received*>(user);
    const size_t bytes = size * count;
    // A body without a length is refused here, once it passes the limit.
    if (!withinLimit(received.bodyBytes, received.rules.bodyLimit, received.bodyTooLarge, bytes)) {
        return 0;
    }
    // A redirect's own body and an error page are not the feed.
    if (received.status == 200) {
        received.body.append(data, static_cast<qsizetype>(bytes));
    }
    return bytes;
}

FeedResponse failed(const QString& failure) {
    return FeedResponse{false, {}, failure};
}

FeedResponse responseOf(CURLcode code, const char* error, CURL* handle, Received& received) {
    const FeedTransferRules& rules = received.rules;
    if (received.headersTooLarge) {
        return failed(QStringLiteral("The update feed's response headers are larger than %1 bytes.").arg(rules.headerLimit));
    }
    if (received.bodyTooLarge || code == CURLE_FILESIZE_EXCEEDED) {
        return failed(QStringLiteral("The update feed is larger than %1 bytes.").arg(rules.bodyLimit));
    }
    if (code == CURLE_OPERATION_TIMEDOUT) {
        return failed(QStringLiteral("The update feed did not answer within %1 seconds.")
                          .arg(static_cast<double>(rules.transferLimit.count()) / 1000.0));
    }
    if (received.status >= 300 && received.status < 400 && !received.location.isEmpty()) {
        char* from = nullptr;
        curl_easy_getinfo(handle, CURLINFO_EFFECTIVE_URL, &from);
        const QUrl target = QUrl(QString::fromUtf8(from != nullptr ? from : ""))
                                .resolved(QUrl(QString::fromUtf8(received.location)));
        if (!isSecureAddress(target)) {
            return failed(QStringLiteral("The update feed redirected to an address that is not https: %1")
                              .arg(target.toString()));
        }
    }
    if (code == CURLE_TOO_MANY_REDIRECTS) {
        return failed(QStringLiteral("The update feed redirected more than %1 times.").arg(rules.redirectLimit));
    }
    if (received.status != 0 && received.status != 200) {
        return failed(QStringLiteral("The update feed answered with HTTP status %1 %2.")
                          .arg(received.status)
                          .arg(QString::fromUtf8(received.reason))
                          .trimmed());
    }
    if (code != CURLE_OK) {
        return failed(QStringLiteral("The update feed could not be fetched: %1")
                          .arg(QString::fromUtf8(error[0] != '\0' ? error : curl_easy_strerror(code))));
    }
    if (received.status == 0) {
        return failed(QStringLiteral("The update feed gave no HTTP status."));
    }
    return FeedResponse{true, std::move(received.body), {}};
}

} // namespace

FeedTransfer::FeedTransfer(const QUrl& address, FeedTransferRules rules, std::function<void(FeedResponse)> finished) {
    static std::once_flag initialised;
    std::call_once(initialised, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
    multi_ = curl_multi_init();
    thread_ = std::thread([this, address, rules = std::move(rules), finished = std::move(finished)] {
        run(address, rules, finished);
    });
}

FeedTransfer::~FeedTransfer() {
    stopping_ = true;
    if (multi_ != nullptr) {
        curl_multi_wakeup(multi_);
    }
    thread_.join();
    curl_multi_cleanup(multi_);
}

void FeedTransfer::run(const QUrl& address, const FeedTransferRules& rules,
                       const std::function<void(FeedResponse)>& finished) {
    std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> easy(curl_easy_init(), curl_easy_cleanup);
    if (multi_ == nullptr || !easy) {
        finished(failed(QStringLiteral("The update feed could not be fetched: libcurl could not start a transfer.")));
        return;
    }
    CURL* handle = easy.get();
    Received received(rules);
    char error[CURL_ERROR_SIZE] = {};
    const std::string url = address.toString(QUrl::FullyEncoded).toStdString();
    const std::string proxy = rules.proxy.toStdString();
    curl_easy_setopt(handle, CURLOPT_URL, url.c_str());
    curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
    // A transfer stopped while its name is being looked up leaves the resolver's thread to end on
    // its own, when the system's resolver gives up, instead of waiting for it: a drop returns at once
    // whatever the name servers do.
    curl_easy_setopt(handle, CURLOPT_QUICK_EXIT, 1L);
    curl_easy_setopt(handle, CURLOPT_ERRORBUFFER, error);
    curl_easy_setopt(handle, CURLOPT_PROTOCOLS_STR, "https");
    curl_easy_setopt(handle, CURLOPT_REDIR_PROTOCOLS_STR, "https");
    curl_easy_setopt(handle, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(handle, CURLOPT_MAXREDIRS, static_cast<long>(rules.redirectLimit));
    curl_easy_setopt(handle, CURLOPT_TIMEOUT_MS, static_cast<long>(rules.transferLimit.count()));
    curl_easy_setopt(handle, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(rules.bodyLimit));
    curl_easy_setopt(handle, CURLOPT_HEADERFUNCTION, onHeader);
    curl_easy_setopt(handle, CURLOPT_HEADERDATA, &received);
    curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, onBody);
    curl_easy_setopt(handle, CURLOPT_WRITEDATA, &received);
    // Empty: no proxy, whatever the environment says.
    curl_easy_setopt(handle, CURLOPT_PROXY, proxy.c_str());
    curl_blob roots{};
    if (!rules.trustedCertificatesPEM.isEmpty()) {
        roots.data = const_cast<char*>(rules.trustedCertificatesPEM.constData());
        roots.len = static_cast<size_t>(rules.trustedCertificatesPEM.size());
        roots.flags = CURL_BLOB_COPY;
        curl_easy_setopt(handle, CURLOPT_CAINFO_BLOB, &roots);
    }

    curl_multi_add_handle(multi_, handle);
    int running = 1;
    while (!stopping_ && running > 0) {
        if (curl_multi_perform(multi_, &running) != CURLM_OK) {
            break;
        }
        if (running > 0) {
            curl_multi_poll(multi_, nullptr, 0, 1000, nullptr);
        }
    }
    CURLcode code = CURLE_FAILED_INIT;
    int left = 0;
    while (CURLMsg* message = curl_multi_info_read(multi_, &left)) {
        if (message->msg == CURLMSG_DONE && message->easy_handle == handle) {
            code = message->data.result;
        }
    }
    curl_multi_remove_handle(multi_, handle);
    if (!stopping_) {
        finished(responseOf(code, error, handle, received));
    }
}

} // namespace marrowdale
