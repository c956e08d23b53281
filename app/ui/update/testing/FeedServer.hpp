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
        // Answers 200 and then sends headers, or a body without a length, until the client leaves
        // (at most `endlessLimit`); `body` and `location` are not sent.
        enum class Endless { no, headers, body } endless = Endless::no;
    };
    static constexpr qint64 endlessLimit = 64 << 20;

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
    // Endless answers whose client has gone, and the bytes the last one sent after its status line.
    int endlessEnded() const { return endlessEnded_; }
    qint64 endlessSent() const { return endlessSent_; }

private:
    void serve(QSslSocket* socket);
    void stream(QSslSocket* socket, Answer::Endless endless);

    velmor::testing::TemporaryDirectory folder_;
    QString failure_;
    QSslCertificate certificate_;
    QMap<QString, Answer> answers_;
    int requests_ = 0;
    int endlessEnded_ = 0;
    qint64 endlessSent_ = 0;
    // Last, so that its connections go before what they count in.
    std::unique_ptr<QSslServer> server_;
};

} // namespace marrowdale::testing
