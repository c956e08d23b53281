#include "platform/defaults/UserDefaults.hpp"

#include "platform/bundle/Bundle.hpp"
#include "platform/coding/Decoding.hpp"
#include "platform/coding/PropertyList.hpp"
#include "platform/error/Error.hpp"
#include "platform/fs/AtomicFile.hpp"
#include "platform/fs/Descriptor.hpp"
#include "platform/fs/FileContents.hpp"
#include "platform/fs/FileName.hpp"
#include "platform/fs/UserDirectories.hpp"

#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <stdexcept>
#include <sys/file.h>
#include <unistd.h>

namespace velmor {

namespace {

// Preferences hold what the user chose: readable by them alone.
constexpr mode_t preferencesFileMode = 0600;
// A suite holds settings and small tokens; a file past this is refused unread.
constexpr std::size_t suiteSizeLimit = 4 << 20;

std::string standardSuiteName() {
    if (auto identifier = Bundle::main().bundleIdentifier(); identifier && isPlainFileName(*identifier)) {
        return *identifier;
    }
    // The process's name, as the program was started.
    return program_invocation_short_name;
}

// A property-list key cannot hold a NUL.
void checkKey(const std::string& key) {
    if (key.find('\0') != std::string::npos) {
        throw std::invalid_argument("Invalid user defaults key: it holds a NUL character.");
    }
}

[[noreturn]] void throwNoConfigurationFolder() {
    throw ErrorException(Error(Error::posixDomain, ENOENT,
                               {{Error::localizedDescriptionKey,
                                 std::string("User defaults have no folder: neither XDG_CONFIG_HOME nor HOME "
                                             "names an absolute path, and the password database gives no "
                                             "home folder.")}}));
}

// The suite's dictionary; an empty one when the file does not exist or is empty.
coding::Object readDictionary(const std::string& path) {
    auto contents = readFileIfPresent(path, suiteSizeLimit);
    if (!contents || contents->empty()) {
        return {};
    }
    std::string reason;
    try {
        coding::Value root = coding::fromPropertyList(*contents);
        if (auto dictionary = root.get<coding::Object>()) {
            return std::move(*dictionary);
        }
        reason = std::string("it holds ") + root.kindDescription();
    } catch (const coding::DecodingError& error) {
        reason = error.what();
    }
    static constexpr std::int64_t fileReadCorruptFile = 259;
    throw ErrorException(Error(Error::cocoaDomain, fileReadCorruptFile,
                               {{Error::localizedDescriptionKey, "The user defaults file " + path +
                                                                     " is not a property-list dictionary (" +
                                                                     reason + "); it is left as it is."},
                                {Error::filePathKey, path}}));
}

// Applies `change` to the suite's dictionary under the folder's lock and writes the result back.
void modify(const URL& file, const std::function<void(coding::Object&)>& change) {
    const std::string folderPath = file.deletingLastPathComponent().path();
    std::error_code ignored; // a folder that cannot be made shows up as the open's error below
    std::filesystem::create_directories(folderPath, ignored);
    Descriptor folder(::open(folderPath.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!folder) {
        throw ErrorException(Error::posixForPath(errno, file.path()));
    }
    // The lock is on the folder, not the file: the file is replaced by renaming, so a lock on it
    // would be left behind on the old inode.
    while (::flock(folder.get(), LOCK_EX) != 0) {
        if (errno != EINTR) {
            throw ErrorException(Error::posixForPath(errno, folderPath));
        }
    }
    coding::Object root = readDictionary(file.path());
    change(root);
    std::string xml;
    try {
        xml = coding::toXMLPropertyList(root);
    } catch (const coding::EncodingError& error) {
        // An entry it did not write may have no property-list form (a string holding NUL).
        static constexpr std::int64_t fileWriteUnknown = 512;
        throw ErrorException(
            Error(Error::cocoaDomain, fileWriteUnknown,
                  {{Error::localizedDescriptionKey,
                    "The user defaults file " + file.path() + " cannot be written: " + error.what()},
                   {Error::filePathKey, file.path()}}));
    }
    replaceFileAtomically(folder.get(), folderPath, file.lastPathComponent(), xml, preferencesFileMode);
}

} // namespace

UserDefaults::UserDefaults(std::string suiteName) : suiteName_(std::move(suiteName)) {
    if (!isPlainFileName(suiteName_)) {
        throw std::invalid_argument("Invalid user defaults suite name \"" + suiteName_ +
                                    "\": it must not be empty, \".\" or \"..\", nor hold \"/\" or NUL.");
    }
    if (auto configuration = userConfigurationDirectory()) {
        fileURL_ = configuration->appendingPathComponent("Velmor")
                       .appendingPathComponent("Preferences")
                       .appendingPathComponent(suiteName_ + ".plist");
    }
}

UserDefaults& UserDefaults::standard() {
    static UserDefaults defaults(standardSuiteName());
    return defaults;
}

std::optional<std::vector<std::uint8_t>> UserDefaults::data(const std::string& key) const {
    checkKey(key);
    if (!fileURL_) {
        throwNoConfigurationFolder();
    }
    const coding::Object root = readDictionary(fileURL_->path());
    const coding::Value* entry = root.find(key);
    const coding::Data* data = entry ? entry->get<coding::Data>() : nullptr;
    if (data == nullptr) {
        return std::nullopt;
    }
    return data->bytes;
}

void UserDefaults::set(const std::vector<std::uint8_t>& data, const std::string& key) {
    checkKey(key);
    if (!fileURL_) {
        throwNoConfigurationFolder();
    }
    modify(*fileURL_, [&](coding::Object& root) { root.set(key, coding::Data{data}); });
}

void UserDefaults::removeObject(const std::string& key) {
    checkKey(key);
    if (!fileURL_) {
        throwNoConfigurationFolder();
    }
    modify(*fileURL_, [&](coding::Object& root) { root.erase(key); });
}

} // namespace velmor
