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
#include "platform/log/OSLog.hpp"

#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <stdexcept>
#include <sys/file.h>
#include <sys/stat.h>
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

// A suite's dictionary as read from its file, and why the file could not be used when it could not.
struct Reading {
    coding::Object root;
    std::optional<std::string> failure;
    // The process, not the file, was short of something: a later attempt may read the file whole.
    std::optional<Error> shortage;
};

// The suite's dictionary; an empty one when the file does not exist, is empty, or cannot be used.
Reading readDictionary(const std::string& path) {
    WholeFile read = readWholeFile(path, suiteSizeLimit);
    if (read.error == ENOENT) {
        return {};
    }
    if (read.error != 0) {
        const bool shortage = read.error == EMFILE || read.error == ENFILE || read.error == ENOMEM;
        return {{}, read.cause, shortage ? std::optional<Error>(Error::posixForPath(read.error, path)) : std::nullopt};
    }
    if (read.contents.empty()) {
        return {};
    }
    std::string reason;
    try {
        coding::Value root = coding::fromPropertyList(read.contents);
        if (auto dictionary = root.get<coding::Object>()) {
            return {std::move(*dictionary), std::nullopt, std::nullopt};
        }
        reason = std::string("it holds ") + root.kindDescription();
    } catch (const coding::DecodingError& error) {
        reason = error.what();
    }
    return {{}, "it is not a property-list dictionary (" + reason + ")", std::nullopt};
}

void logError(const std::string& message) {
    log::OSLog("com.velmor.platform", "UserDefaults").write(log::LogType::error, message);
}

// Logs that the file at `path` reads as empty, once for each state of the file (its identity, size
// and time of change), so a suite read again and again does not repeat the line.
void logUnusableRead(const std::string& path, const std::string& failure) {
    struct ::stat record {};
    std::string state = path;
    if (::lstat(path.c_str(), &record) == 0) {
        state += "|" + std::to_string(record.st_dev) + ":" + std::to_string(record.st_ino) + ":" +
                 std::to_string(record.st_size) + ":" + std::to_string(record.st_mtim.tv_sec) + "." +
                 std::to_string(record.st_mtim.tv_nsec);
    }
    static std::mutex lock;
    static std::set<std::string> logged;
    {
        std::lock_guard guard(lock);
        if (!logged.insert(state).second) {
            return;
        }
    }
    logError("Cannot read the user defaults file " + path + ": " + failure + "; it reads as empty.");
}

// Applies `change` to the suite's dictionary under the folder's lock and writes the result back. A
// file that could not be read is first kept beside as "<file>.corrupt", so nothing is lost unseen.
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
    Reading reading = readDictionary(file.path());
    if (reading.shortage) {
        throw ErrorException(*reading.shortage);
    }
    if (reading.failure) {
        const std::string kept = file.lastPathComponent() + ".corrupt";
        if (::renameat(folder.get(), file.lastPathComponent().c_str(), folder.get(), kept.c_str()) != 0) {
            throw ErrorException(Error::posixForPath(errno, folderPath + "/" + kept));
        }
        logError("Cannot read the user defaults file " + file.path() + ": " + *reading.failure +
                 "; it is kept as " + folderPath + "/" + kept + " and a new one is written.");
    }
    coding::Object& root = reading.root;
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
    const Reading reading = readDictionary(fileURL_->path());
    if (reading.failure) {
        logUnusableRead(fileURL_->path(), *reading.failure);
    }
    const coding::Value* entry = reading.root.find(key);
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
