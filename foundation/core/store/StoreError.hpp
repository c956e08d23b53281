#pragma once

#include "platform/error/Error.hpp"

#include <string>

namespace velmor {

// Why a store refused an operation before touching anything.
class StoreError : public ComponentError {
public:
    static constexpr const char* domain = "com.velmor.foundation.StoreError";
    enum class Code {
        // The name is empty, "." or "..", or holds "/" or NUL, so it would not stay inside the store.
        invalidName,
        // The store has no folder (no caches folder could be found for `DiskStore::cache`).
        noBaseFolder,
    };

    static StoreError invalidName(const std::string& name);
    static StoreError noBaseFolder();

    Code code() const { return code_; }
    const std::string& description() const { return description_; }
    Error toError() const override;

private:
    StoreError(Code code, std::string description) : code_(code), description_(std::move(description)) {}

    Code code_;
    std::string description_;
};

} // namespace velmor
