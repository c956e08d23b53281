#include "app/ui/update/testing/FeedServer.hpp"

#include <QFile>
#include <QProcess>
#include <QSslKey>
#include <QSslSocket>

namespace marrowdale::testing {
namespace {

QByteArray reasonPhrase(int status) {
    switch (status) {
    case 200:
        return "OK";
    case 302:
        return "Found";
    case 404:
        return "Not Found";
    default:
        return "Status";
    }
}

} // namespace

FeedServer::FeedServer() {
    if (!QSslSocket::supportsSsl()) {
        failure_ = "Qt has no TLS backend here: " + QSslSocket::activeBackend();
        return;
    }
    const QString key = QString::fromStdString(folder_ / "key.pem");
    const QString certificate = QString::fromStdString(folder_ / "certificate.pem");
    QProcess openssl;
    openssl.setProcessChannelMode(QProcess::MergedChannels);
    openssl.start(QStringLiteral("openssl"),
                  {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj", "/CN=127.0.0.1",
                   "-addext", "subjectAltName=IP:127.0.0.1", "-keyout", key, "-out", certificate});
    if (!openssl.waitForFinished(60'000) || openssl.exitStatus() != QProcess::NormalExit || openssl.exitCode() != 0) {
        failure_ = "openssl could not make a certificate (is the openssl package installed?): " +
                   openssl.errorString() + " " + QString::fromUtf8(openssl.readAll());
        return;
    }
    QFile keyFile(key);
    QFile certificateFile(certificate);
    if (!keyFile.open(QIODevice::ReadOnly) || !certificateFile.open(QIODevice::ReadOnly)) {
        failure_ = "the certificate openssl made cannot be read";
        return;
    }
    certificate_ = QSslCertificate(certificateFile.readAll(), QSsl::Pem);
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    configuration.setLocalCertificate(certificate_);
    configuration.setPrivateKey(QSslKey(keyFile.readAll(), QSsl::Rsa, QSsl::Pem));
    configuration.setPeerVerifyMode(QSslSocket::VerifyNone);
    server_ = std::make_unique<QSslServer>();
    server_->setSslConfiguration(configuration);
    QObject::connect(server_.get(), &QSslServer::pendingConnectionAvailable, server_.get(), [this] {
        while (QTcpSocket* socket = server_->nextPendingConnection()) {
            serve(static_cast<QSslSocket*>(socket));
        }
    });
    if (!server_->listen(QHostAddress::LocalHost, 0)) {
        failure_ = "the HTTPS server cannot listen on 127.0.0.1: " + server_->errorString();
        server_.reset();
    }
}

FeedServer::~FeedServer() = default;

QString FeedServer::address(const QString& path) const {
    return QStringLiteral("https://127.0.0.1:%1%2").arg(server_ ? server_->serverPort() : 0).arg(path);
}

void FeedServer::serve(QSslSocket* socket) {
    auto request = std::make_shared<QByteArray>();
    QObject::connect(socket, &QSslSocket::disconnected, socket, &QObject::deleteLater);
    QObject::connect(socket, &QSslSocket::readyRead, socket, [this, socket, request] {
        *request += socket->readAll();
        const qsizetype end = request->indexOf("\r\n\r\n");
        if (end < 0) {
            return;
        }
        ++requests_;
        const QList<QByteArray> line = request->left(request->indexOf("\r\n")).split(' ');
        const QString path = line.size() > 1 ? QString::fromUtf8(line[1]) : QString();
        request->clear();
        const Answer answer = answers_.value(path, Answer{404, "not here", {}, false});
        if (answer.silent) {
            return;
        }
        if (answer.endless != Answer::Endless::no) {
            stream(socket, answer.endless);
            return;
        }
        QByteArray reply = "HTTP/1.1 " + QByteArray::number(answer.status) + " " + reasonPhrase(answer.status) +
                           "\r\nContent-Type: application/rss+xml\r\nContent-Length: " +
                           QByteArray::number(answer.body.size()) + "\r\n";
        if (!answer.location.isEmpty()) {
            reply += "Location: " + answer.location + "\r\n";
        }
        reply += "\r\n" + answer.body;
        // The connection stays open for the client's next request, as a real server keeps it.
        socket->write(reply);
    });
}

void FeedServer::stream(QSslSocket* socket, Answer::Endless endless) {
    QByteArray chunk;
    if (endless == Answer::Endless::headers) {
        const QByteArray line = "X-Filler: " + QByteArray(1000, 'h') + "\r\n";
        for (int i = 0; i < 64; ++i) {
            chunk += line;
        }
    } else {
        chunk = QByteArray(64 << 10, 'b');
    }
    auto sent = std::make_shared<qint64>(0);
    auto more = [this, socket, chunk, sent] {
        // A few chunks ahead of the network, no more: the client sets the pace.
        while (socket->bytesToWrite() + socket->encryptedBytesToWrite() < 4 * chunk.size()) {
            if (*sent >= endlessLimit) {
                socket->disconnectFromHost();
                return;
            }
            socket->write(chunk);
            *sent += chunk.size();
        }
    };
    QObject::connect(socket, &QSslSocket::encryptedBytesWritten, socket, more);
    QObject::connect(socket, &QSslSocket::disconnected, socket, [this, sent] {
        endlessSent_ = *sent;
        ++endlessEnded_;
    });
    socket->write(endless == Answer::Endless::headers
                      ? QByteArray("HTTP/1.1 200 OK\r\nContent-Type: application/rss+xml\r\n")
                      : QByteArray("HTTP/1.1 200 OK\r\nContent-Type: application/rss+xml\r\nConnection: close\r\n\r\n"));
    more();
}

} // namespace marrowdale::testing
