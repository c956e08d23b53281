#pragma once

#include "platform/testing/TemporaryDirectory.hpp"

#include <QByteArray>
#include <QMap>
#include <QSslCertificate>
#include <QSslServer>
#include <QString>

#include <memory>

namespace marrowdale::testing {

// A small HTTPS server on 127.0.0.1 for the update checker: a certificate of its own, made with
// `openssl req` for the address, and one answer per path. `failure()` says why it could not start.
class FeedServer {
public:
    struct Answer {
        int status = 200;
        QByteArray body;
        // Sent as a Location header (a redirect).
        QByteArray location;
        // Reads the request and never answers.
        bool silent = false;
    };

    FeedServer();
    ~FeedServer();

    const QString& failure() const { return failure_; }
    // The certificate clients must trust to reach the server.
    const QSslCertificate& certificate() const { return certificate_; }
    // "https://127.0.0.1:<port>" + `path`.
    QString address(const QString& path) const;
    void answer(const QString& path, Answer answer) { answers_[path] = std::move(answer); }
    // Requests read so far, all paths.
    int requests() const { return requests_; }

private:
    void serve(QSslSocket* socket);

    velmor::testing::TemporaryDirectory folder_;
    QString failure_;
    QSslCertificate certificate_;
    std::unique_ptr<QSslServer> server_;
    QMap<QString, Answer> answers_;
    int requests_ = 0;
};

} // namespace marrowdale::testing
