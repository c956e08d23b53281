#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace velmor {

// A keyed digest (RFC 2104) computed in steps. One object computes one digest at a time and is
// reused for the next after `reset`, so a caller digesting many files keeps one context. Not
// thread-safe. Every failure of the crypto library throws an `ErrorException`; a digest is never
// made from a step that failed.
class HMAC {
public:
    // The hash functions by the numbers the platform's HMAC interface gives them.
    enum class Algorithm : std::uint32_t {
        md5 = 1,
    };

    HMAC(Algorithm algorithm, std::span<const std::uint8_t> key);
    ~HMAC();
    HMAC(const HMAC&) = delete;
    HMAC& operator=(const HMAC&) = delete;

    // Bytes in a digest of this algorithm.
    std::size_t digestLength() const { return digestLength_; }
    // Starts a new digest with the key given at construction.
    void reset();
    void update(std::span<const std::uint8_t> bytes);
    // Writes the digest of everything fed since the last `reset` into `digest`, which holds
    // exactly `digestLength()` bytes. Call `reset` before feeding the next message.
    void finalize(std::span<std::uint8_t> digest);

private:
    struct Context;
    Context* context_;
    std::size_t digestLength_;
};

} // namespace velmor
