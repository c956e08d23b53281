#include "platform/hashing/HMAC.hpp"

#include "platform/error/Error.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace velmor {
namespace {

std::string hex(std::span<const std::uint8_t> bytes) {
    std::string text;
    for (auto byte : bytes) {
        char pair[3];
        std::snprintf(pair, sizeof pair, "%02x", byte);
        text += pair;
    }
    return text;
}

std::span<const std::uint8_t> bytesOf(const std::string& text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

std::string digestOf(HMAC& hmac, const std::vector<std::string>& pieces) {
    hmac.reset();
    for (const auto& piece : pieces) {
        hmac.update(bytesOf(piece));
    }
    std::vector<std::uint8_t> digest(hmac.digestLength());
    hmac.finalize(digest);
    return hex(digest);
}

TEST(HMAC, MD5WithAnEmptyKeyGivesTheKnownDigests) {
    HMAC hmac(HMAC::Algorithm::md5, {});
    EXPECT_EQ(hmac.digestLength(), 16u);
    struct Case {
        const char* name;
        std::vector<std::string> pieces;
        const char* expected;
    };
    const Case cases[] = {
        {"empty input", {}, "74e6f7298a9c2d168935f58c001bad88"},
        {"ten digits", {"0123456789"}, "f6e27fe0fc887ad98fcdca64c0734c47"},
        {"ten digits in pieces", {"0123", "", "456789"}, "f6e27fe0fc887ad98fcdca64c0734c47"},
        {"10,000 a in chunks of 4000",
         {std::string(4000, 'a'), std::string(4000, 'a'), std::string(2000, 'a')},
         "a5f4f86fda2d2b2f397660c55e4b2b15"},
    };
    // One context for every message, as a caller digesting many files uses it.
    for (const auto& c : cases) {
        EXPECT_EQ(digestOf(hmac, c.pieces), c.expected) << c.name;
    }
}

TEST(HMAC, KeyIsKeptAcrossResets) {
    const std::string key = "key";
    HMAC hmac(HMAC::Algorithm::md5, bytesOf(key));
    // RFC 2202's vectors are for other keys; this one is HMAC-MD5("key", "The quick brown fox...").
    const std::string message = "The quick brown fox jumps over the lazy dog";
    EXPECT_EQ(digestOf(hmac, {message}), "80070713463e7749b90c2dc24911e275");
    EXPECT_EQ(digestOf(hmac, {message}), "80070713463e7749b90c2dc24911e275");
}

TEST(HMAC, AWrongDigestBufferIsAnErrorNotADigest) {
    HMAC hmac(HMAC::Algorithm::md5, {});
    hmac.update(bytesOf("x"));
    std::vector<std::uint8_t> tooSmall(8);
    EXPECT_THROW(hmac.finalize(tooSmall), ErrorException);
}

} // namespace
} // namespace velmor
