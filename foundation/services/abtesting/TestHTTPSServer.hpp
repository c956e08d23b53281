#pragma once

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <arpa/inet.h>
#include <atomic>
#include <map>
#include <mutex>
#include <netinet/in.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace velmor::testing {

// An HTTPS server on 127.0.0.1 with a certificate made at start, answering each path with a canned
// status and body, or never (a stalled answer). `failure()` says why it could not start.
class TestHTTPSServer {
public:
    struct Answer {
        int status = 200;
        std::string body;
        bool stall = false;
        // A body with no length that goes on until the client leaves (at most `endlessLimit`).
        bool endless = false;
    };
    static constexpr std::size_t endlessLimit = 64 << 20;

    TestHTTPSServer() {
        if (!makeCertificate()) {
            failure_ = "cannot make a certificate with OpenSSL";
            return;
        }
        listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (listener_ < 0 || ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            ::listen(listener_, 16) != 0 ||
            ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
            failure_ = "cannot listen on 127.0.0.1";
            return;
        }
        port_ = ntohs(address.sin_port);
        thread_ = std::thread([this] { serve(); });
    }
    ~TestHTTPSServer() {
        stopping_ = true;
        if (thread_.joinable()) {
            thread_.join();
        }
        if (listener_ >= 0) {
            ::close(listener_);
        }
        SSL_CTX_free(context_);
        X509_free(certificate_);
        EVP_PKEY_free(key_);
    }
    TestHTTPSServer(const TestHTTPSServer&) = delete;
    TestHTTPSServer& operator=(const TestHTTPSServer&) = delete;

    const std::string& failure() const { return failure_; }
    const std::string& certificatePEM() const { return certificatePEM_; }
    std::string url(const std::string& path) const {
        return "https://127.0.0.1:" + std::to_string(port_) + path;
    }

    void answer(const std::string& path, Answer answer) {
        std::lock_guard lock(mutex_);
        answers_[path] = std::move(answer);
    }
    // Endless answers ended so far, and the body bytes the last one sent before the client left.
    int endlessAnswers() const { return endlessAnswers_; }
    std::size_t endlessSent() const { return endlessSent_; }

private:
    bool makeCertificate() {
        key_ = EVP_EC_gen("P-256");
        certificate_ = X509_new();
        if (key_ == nullptr || certificate_ == nullptr) {
            return false;
        }
        X509_set_version(certificate_, 2);
        ASN1_INTEGER_set(X509_get_serialNumber(certificate_), 1);
        X509_gmtime_adj(X509_getm_notBefore(certificate_), -3600);
        X509_gmtime_adj(X509_getm_notAfter(certificate_), 86400);
        X509_set_pubkey(certificate_, key_);
        X509_NAME* name = X509_get_subject_name(certificate_);
        X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                                   reinterpret_cast<const unsigned char*>("127.0.0.1"), -1, -1, 0);
        X509_set_issuer_name(certificate_, name);
        X509V3_CTX extensions;
        X509V3_set_ctx_nodb(&extensions);
        X509V3_set_ctx(&extensions, certificate_, certificate_, nullptr, nullptr, 0);
        for (auto [nid, value] : {std::pair{NID_subject_alt_name, "IP:127.0.0.1"},
                                  std::pair{NID_basic_constraints, "critical,CA:TRUE"}}) {
            X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &extensions, nid, value);
            if (extension == nullptr) {
                return false;
            }
            X509_add_ext(certificate_, extension, -1);
            X509_EXTENSION_free(extension);
        }
        if (X509_sign(certificate_, key_, EVP_sha256()) == 0) {
            return false;
        }
        BIO* pem = BIO_new(BIO_s_mem());
        PEM_write_bio_X509(pem, certificate_);
        char* data = nullptr;
        long size = BIO_get_mem_data(pem, &data);
        certificatePEM_.assign(data, static_cast<size_t>(size));
        BIO_free(pem);
        context_ = SSL_CTX_new(TLS_server_method());
        return context_ != nullptr && SSL_CTX_use_certificate(context_, certificate_) == 1 &&
               SSL_CTX_use_PrivateKey(context_, key_) == 1;
    }

    void serve() {
        // A client that leaves mid-answer must not end the test process; the signal stays pending
        // on this thread only.
        sigset_t pipe;
        sigemptyset(&pipe);
        sigaddset(&pipe, SIGPIPE);
        pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
        while (!stopping_) {
            pollfd ready{listener_, POLLIN, 0};
            if (::poll(&ready, 1, 100) != 1) {
                continue;
            }
            int connection = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
            if (connection >= 0) {
                handle(connection);
                ::close(connection);
            }
        }
    }

    void handle(int connection) {
        SSL* ssl = SSL_new(context_);
        SSL_set_fd(ssl, connection);
        std::string request;
        if (SSL_accept(ssl) == 1) {
            char buffer[4096];
            while (request.find("\r\n\r\n") == std::string::npos) {
                int count = SSL_read(ssl, buffer, sizeof buffer);
                if (count <= 0) {
                    break;
                }
                request.append(buffer, static_cast<size_t>(count));
            }
        }
        auto start = request.find(' ');
        auto end = start == std::string::npos ? start : request.find(' ', start + 1);
        if (end != std::string::npos) {
            Answer answer{404, "not found"};
            {
                std::lock_guard lock(mutex_);
                auto found = answers_.find(request.substr(start + 1, end - start - 1));
                if (found != answers_.end()) {
                    answer = found->second;
                }
            }
            if (answer.stall) {
                // Until the client gives up (or the server stops).
                pollfd closed{connection, POLLIN, 0};
                while (!stopping_ && ::poll(&closed, 1, 100) == 0) {
                }
            } else if (answer.endless) {
                std::string response = "HTTP/1.1 200 Canned\r\nContent-Type: application/json\r\n"
                                       "Connection: close\r\n\r\n{";
                SSL_write(ssl, response.data(), static_cast<int>(response.size()));
                const std::string spaces(64 << 10, ' ');
                std::size_t sent = 0;
                while (!stopping_ && sent < endlessLimit &&
                       SSL_write(ssl, spaces.data(), static_cast<int>(spaces.size())) > 0) {
                    sent += spaces.size();
                }
                endlessSent_ = sent;
                ++endlessAnswers_;
                SSL_shutdown(ssl);
            } else {
                std::string response = "HTTP/1.1 " + std::to_string(answer.status) +
                                       " Canned\r\nContent-Type: application/json\r\nContent-Length: " +
                                       std::to_string(answer.body.size()) + "\r\nConnection: close\r\n\r\n" +
                                       answer.body;
                SSL_write(ssl, response.data(), static_cast<int>(response.size()));
                SSL_shutdown(ssl);
            }
        }
        SSL_free(ssl);
    }

    std::string failure_;
    EVP_PKEY* key_ = nullptr;
    X509* certificate_ = nullptr;
    SSL_CTX* context_ = nullptr;
    std::string certificatePEM_;
    int listener_ = -1;
    int port_ = 0;
    std::atomic<bool> stopping_{false};
    std::atomic<std::size_t> endlessSent_{0};
    std::atomic<int> endlessAnswers_{0};
    std::thread thread_;
    std::mutex mutex_;
    std::map<std::string, Answer> answers_;
};

} // namespace velmor::testing
