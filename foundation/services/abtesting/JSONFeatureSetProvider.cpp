#include "foundation/services/abtesting/JSONFeatureSetProvider.hpp"

#include "foundation/services/abtesting/ABTestingEngine.hpp"

#include <curl/curl.h>
#include <nlohmann/json.hpp>

#include <memory>
#include <mutex>

namespace velmor {

namespace {

using EngineError = TypedError<ABTestingEngine::Error>;

// Stops the transfer past the cap: a body without a length may go on for ever.
size_t append(char* data, size_t size, size_t count, void* body) {
    auto* text = static_cast<std::string*>(body);
    const size_t bytes = size * count;
    if (text->size() + bytes > JSONFeatureSetProvider::maximumFileSize) {
        return 0;
    }
    text->append(data, bytes);
    return bytes;
}

} // namespace

FeatureSet JSONFeatureSetProvider::fetchFeatureSet(const std::string& url) const {
    static std::once_flag initialised;
    std::call_once(initialised, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });

    // A fresh handle per fetch: nothing cached, no cookies kept.
    std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> handle(curl_easy_init(), curl_easy_cleanup);
    if (!handle) {
        throw EngineError(ABTestingEngine::Error::remoteFeatureFileUnavailable);
    }
    std::string body;
    CURL* curl = handle.get();
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT, session.timeoutSeconds);
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "https");
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "https");
    curl_easy_setopt(curl, CURLOPT_MAXREDIRS, 10L);
    curl_easy_setopt(curl, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(maximumFileSize));
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, append);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &body);
    curl_blob roots{};
    if (!session.trustedRootsPEM.empty()) {
        roots.data = const_cast<char*>(session.trustedRootsPEM.data());
        roots.len = session.trustedRootsPEM.size();
        roots.flags = CURL_BLOB_COPY;
        curl_easy_setopt(curl, CURLOPT_CAINFO_BLOB, &roots);
    }
    long status = 0;
    if (curl_easy_perform(curl) != CURLE_OK ||
        curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status) != CURLE_OK) {
        throw EngineError(ABTestingEngine::Error::remoteFeatureFileUnavailable);
    }
    // An error page is no feature file, even when it parses as one.
    if (status < 200 || status > 299) {
        throw EngineError(ABTestingEngine::Error::remoteFeatureFileUnavailable);
    }

    auto json = nlohmann::json::parse(body, nullptr, false);
    if (!json.is_object()) {
        throw EngineError(ABTestingEngine::Error::wrongRemoteFileFormat);
    }
    FeatureSet features;
    for (const auto& [name, percentage] : json.items()) {
        if (!percentage.is_number_integer() ||
            (percentage.is_number_unsigned() && percentage.get<std::uint64_t>() > INT64_MAX)) {
            throw EngineError(ABTestingEngine::Error::wrongRemoteFileFormat);
        }
        features[name] = percentage.get<std::int64_t>();
    }
    return features;
}

} // namespace velmor
