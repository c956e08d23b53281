#include "platform/hashing/HMAC.hpp"

#include "platform/error/Error.hpp"

#include <openssl/core_names.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/params.h>

#include <string>
#include <vector>

namespace velmor {

namespace {

const char* digestName(HMAC::Algorithm algorithm) {
    switch (algorithm) {
    case HMAC::Algorithm::md5:
        return "MD5";
    }
    return nullptr;
}

// The crypto library's reason for the last failure on this thread, with the step that failed.
[[noreturn]] void throwCryptoError(const char* step) {
    std::string reason = "unknown reason";
    if (unsigned long code = ::ERR_get_error(); code != 0) {
        char text[256];
        ::ERR_error_string_n(code, text, sizeof text);
        reason = text;
    }
    ::ERR_clear_error();
    throw ErrorException(Error("velmor.HMAC", 0,
                               {{Error::localizedDescriptionKey,
                                 std::string("The keyed digest failed at ") + step + ": " + reason + "."}}));
}

// The keyed-digest method, fetched once and kept for the life of the process. Fetching it per
// digest costs a look-up in the provider store each time, and the last release of a shared method
// destroys its lock inside the crypto library, whose reference counts no thread checker can see.
EVP_MAC* sharedMac() {
    static EVP_MAC* const mac = ::EVP_MAC_fetch(nullptr, OSSL_MAC_NAME_HMAC, nullptr);
    return mac;
}

} // namespace

struct HMAC::Context {
    EVP_MAC_CTX* context = nullptr;
    std::vector<std::uint8_t> key;
    std::string digest;
    // Whether the digest and the key are set: later messages only restart from the key's state.
    bool keyed = false;

    ~Context() {
        ::EVP_MAC_CTX_free(context);
    }
};

HMAC::HMAC(Algorithm algorithm, std::span<const std::uint8_t> key) : context_(new Context), digestLength_(0) {
    try {
        const char* digest = digestName(algorithm);
        if (digest == nullptr) {
            throw ErrorException(Error(
                "velmor.HMAC", 0,
                {{Error::localizedDescriptionKey,
                  "Unknown HMAC algorithm " + std::to_string(static_cast<std::uint32_t>(algorithm)) + "."}}));
        }
        context_->digest = digest;
        context_->key.assign(key.begin(), key.end());
        EVP_MAC* mac = sharedMac();
        if (mac == nullptr) {
            throwCryptoError("fetching HMAC");
        }
        context_->context = ::EVP_MAC_CTX_new(mac);
        if (context_->context == nullptr) {
            throwCryptoError("making a context");
        }
        reset();
        digestLength_ = ::EVP_MAC_CTX_get_mac_size(context_->context);
        if (digestLength_ == 0) {
            throwCryptoError("sizing the digest");
        }
    } catch (...) {
        delete context_;
        throw;
    }
}

HMAC::~HMAC() {
    delete context_;
}

void HMAC::reset() {
    // Setting the digest again would look it up in the provider store for every message, and the
    // key would be hashed into its pads again.
    if (context_->keyed) {
        if (::EVP_MAC_init(context_->context, nullptr, 0, nullptr) != 1) {
            throwCryptoError("starting a digest");
        }
        return;
    }
    OSSL_PARAM params[] = {
        ::OSSL_PARAM_construct_utf8_string(OSSL_MAC_PARAM_DIGEST, context_->digest.data(), 0),
        ::OSSL_PARAM_construct_end(),
    };
    // The library refuses a null key, also for an empty one: hand it a valid pointer with length 0.
    static const std::uint8_t noKey = 0;
    const std::uint8_t* key = context_->key.empty() ? &noKey : context_->key.data();
    if (::EVP_MAC_init(context_->context, key, context_->key.size(), params) != 1) {
        throwCryptoError("starting a digest");
    }
    context_->keyed = true;
}

void HMAC::update(std::span<const std::uint8_t> bytes) {
    if (::EVP_MAC_update(context_->context, bytes.data(), bytes.size()) != 1) {
        throwCryptoError("feeding bytes");
    }
}

void HMAC::finalize(std::span<std::uint8_t> digest) {
    std::size_t written = 0;
    if (::EVP_MAC_final(context_->context, digest.data(), &written, digest.size()) != 1) {
        throwCryptoError("finishing the digest");
    }
    if (written != digest.size()) {
        throw ErrorException(Error(
            "velmor.HMAC", 0,
            {{Error::localizedDescriptionKey, "The keyed digest has " + std::to_string(written) +
                                                  " bytes, not " + std::to_string(digest.size()) + "."}}));
    }
}

} // namespace velmor
