#include "foundation/core/store/DiskStore.hpp"

#include "foundation/core/store/JSONDecoder.hpp"
#include "foundation/core/store/JSONEncoder.hpp"
#include "foundation/core/store/StoreError.hpp"
#include "platform/fs/AtomicFile.hpp"
#include "platform/fs/FileContents.hpp"
#include "platform/fs/FileName.hpp"
#include "platform/fs/UserDirectories.hpp"

#include <cerrno>
#include <filesystem>
#include <unistd.h>

namespace velmor {

namespace {

// A stored value is a cached record, not bulk data; a file past this is refused unread.
constexpr std::size_t storedFileSizeLimit = 16 << 20;

} // namespace

DiskStore::DiskStore(std::shared_ptr<const StoreEncoder> encoder, std::shared_ptr<const StoreDecoder> decoder,
                     URL baseURL)
    : encoder_(std::move(encoder)), decoder_(std::move(decoder)), baseURL_(std::move(baseURL)) {}

DiskStore DiskStore::cache() {
    static const URL base = userCachesDirectory().value_or(URL());
    return DiskStore(std::make_shared<JSONEncoder>(), std::make_shared<JSONDecoder>(), base);
}

std::string DiskStore::fileName(const std::string& name) const {
    if (!isPlainFileName(name)) {
        throw StoreError::invalidName(name);
    }
    if (baseURL_.isEmpty()) {
        throw StoreError::noBaseFolder();
    }
    return name + ".json";
}

std::optional<std::vector<std::uint8_t>> DiskStore::data(const std::string& name) const {
    auto contents =
        readFileIfPresent(baseURL_.appendingPathComponent(fileName(name)).path(), storedFileSizeLimit);
    if (!contents) {
        return std::nullopt;
    }
    return std::vector<std::uint8_t>(contents->begin(), contents->end());
}

void DiskStore::set(const std::vector<std::uint8_t>& data, const std::string& name) {
    const std::string file = fileName(name);
    if (data.size() > storedFileSizeLimit) {
        throw ErrorException(tooLargeForReader(baseURL_.appendingPathComponent(file).path(),
                                               "the value of \"" + name + "\"", data.size(), storedFileSizeLimit));
    }
    std::error_code ignored; // a folder that cannot be made shows up as the write's own error
    std::filesystem::create_directories(baseURL_.path(), ignored);
    try {
        replaceFileAtomically(baseURL_.path(), file,
                              std::string_view(reinterpret_cast<const char*>(data.data()), data.size()));
    } catch (const ErrorException& error) {
        throw ErrorException(writeFailure(error.error(), baseURL_.appendingPathComponent(file).path()));
    }
}

void DiskStore::clear(const std::string& name) {
    const std::string path = baseURL_.appendingPathComponent(fileName(name)).path();
    if (::unlink(path.c_str()) != 0 && errno != ENOENT) {
        throw ErrorException(Error::posixForPath(errno, path));
    }
}

} // namespace velmor
