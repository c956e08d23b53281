#pragma once

#include "foundation/core/store/Store.hpp"
#include "platform/fs/URL.hpp"

#include <memory>

namespace velmor {

// Keeps each name as the file <name>.json directly in a base folder, holding exactly the bytes set.
//
// A name must be a plain file name (not empty, ".", "..", nor holding "/" or NUL); any other is
// refused with `StoreError::invalidName` before anything is touched. Files are replaced atomically,
// so a crash or a full disk leaves the old value whole. File-system failures throw `ErrorException`
// with a POSIX error carrying the file's path. Calls on different names are independent; calls on one
// name are ordered only by the file system.
class DiskStore final : public Store {
public:
    // Nothing is created on disk until the first `set`. An empty `baseURL` makes every operation fail
    // with `StoreError::noBaseFolder`.
    DiskStore(std::shared_ptr<const StoreEncoder> encoder, std::shared_ptr<const StoreDecoder> decoder,
              URL baseURL);

    // A store in the user's caches folder with JSON coding. The folder is worked out once per process;
    // when there is none, the store's operations fail with `StoreError::noBaseFolder`.
    static DiskStore cache();

    const StoreEncoder& encoder() const override { return *encoder_; }
    const StoreDecoder& decoder() const override { return *decoder_; }
    const URL& baseURL() const { return baseURL_; }

    std::optional<std::vector<std::uint8_t>> data(const std::string& name) const override;
    // Creates the base folder and its parents first when they are missing.
    void set(const std::vector<std::uint8_t>& data, const std::string& name) override;
    // Removes the file only: a folder under the name is an error (EISDIR) and is left as it is.
    void clear(const std::string& name) override;
    using Store::clear;

private:
    // The checked file name of `name`, "<name>.json".
    std::string fileName(const std::string& name) const;

    std::shared_ptr<const StoreEncoder> encoder_;
    std::shared_ptr<const StoreDecoder> decoder_;
    URL baseURL_;
};

} // namespace velmor
