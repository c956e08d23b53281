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
#include "platform/text/UTF8.hpp"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

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

// A property-list key is UTF-8 text without NUL.
void checkKey(const std::string& key) {
    if (key.find('\0') != std::string::npos) {
        throw std::invalid_argument("Invalid user defaults key: it holds a NUL character.");
    }
    if (!isValidUTF8(key)) {
        throw std::invalid_argument("Invalid user defaults key: it is not UTF-8 text.");
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

// Removes the entries that no property-list form can hold again (a string that is not UTF-8 from a
// binary file, or one with a NUL), and gives their keys.
std::vector<std::string> dropUnwritableEntries(coding::Object& root) {
    std::vector<std::string> dropped;
    for (const auto& [key, value] : root) {
        try {
            coding::toXMLPropertyList(coding::Object{{key, value}});
        } catch (const coding::EncodingError&) {
            dropped.push_back(key);
        }
    }
    for (const std::string& key : dropped) {
        root.erase(key);
    }
    return dropped;
}

std::string quotedKeys(const std::vector<std::string>& keys) {
    std::string text;
    for (const std::string& key : keys) {
        text += (text.empty() ? "\"" : ", \"") + key + "\"";
    }
    return text;
}

// Whether `root`, with `previous` back under `key`, is past the limit once written again as XML
// (deep nesting takes a line and its indent for each value), whatever the write changed.
bool tooLargeAlready(coding::Object root, const std::string& key, const std::optional<coding::Value>& previous) {
    if (previous) {
        root.set(key, *previous);
    } else {
        root.erase(key);
    }
    try {
        return coding::toXMLPropertyList(root).size() > suiteSizeLimit;
    } catch (const coding::EncodingError&) {
        return false;
    }
}

// Applies `change` to the entry `key` of the suite's dictionary under the suite's lock and writes
// the result back, unless the reader would refuse it: then nothing changes. A file that could not
// be read, or held entries that cannot be written again, is first kept beside as "<file>.corrupt",
// so nothing is lost unseen.
void modify(const URL& file, const std::string& key, const std::function<void(coding::Object&)>& change) {
    const std::string folderPath = file.deletingLastPathComponent().path();
    std::error_code made;
    std::filesystem::create_directories(folderPath, made);
    Descriptor folder(::open(folderPath.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!folder) {
        // A folder that could not be made says why better than the open that follows.
        const int code = made && errno == ENOENT ? made.value() : errno;
        throw ErrorException(Error(Error::posixDomain, Error::posix(code, EIO).code(),
                                   {{Error::localizedDescriptionKey,
                                     "The user defaults file " + file.path() + " cannot be written: its folder " +
                                         folderPath + " cannot be " + (made ? "made" : "opened") + ": " +
                                         ::strerrordesc_np(code) + "."},
                                    {Error::filePathKey, file.path()}}));
    }
    // Only this user's writers of the suite can take the lock, and one held for more than a few
    // seconds (by a writer that was stopped, say) fails the write rather than hang it.
    const Descriptor locked = lockWriters(folder.get(), folderPath, file.lastPathComponent());
    Reading reading = readDictionary(file.path());
    if (reading.shortage) {
        throw ErrorException(*reading.shortage);
    }
    coding::Object& root = reading.root;
    const coding::Value* before = root.find(key);
    const std::optional<coding::Value> previous = before ? std::optional<coding::Value>(*before) : std::nullopt;
    change(root);
    const std::vector<std::string> dropped = dropUnwritableEntries(root);
    std::string xml;
    try {
        xml = coding::toXMLPropertyList(root);
    } catch (const coding::EncodingError& error) {
        static constexpr std::int64_t fileWriteUnknown = 512;
        throw ErrorException(
            Error(Error::cocoaDomain, fileWriteUnknown,
                  {{Error::localizedDescriptionKey,
                    "The user defaults file " + file.path() + " cannot be written: " + error.what()},
                   {Error::filePathKey, file.path()}}));
    }
    if (xml.size() > suiteSizeLimit) {
        throw ErrorException(tooLargeForReader(
            file.path(), tooLargeAlready(std::move(root), key, previous) ? "what it holds now" : "the value of \"" + key + "\"",
            xml.size(), suiteSizeLimit));
    }
    if (reading.failure || !dropped.empty()) {
        const std::string kept = file.lastPathComponent() + ".corrupt";
        // A file that reads is kept under a second name, so that a write that fails leaves every
        // entry where it was; one that does not read, which need not be a file at all, is moved.
        if (!reading.failure) {
            ::unlinkat(folder.get(), kept.c_str(), 0);
        }
        if ((reading.failure ? ::renameat(folder.get(), file.lastPathComponent().c_str(), folder.get(), kept.c_str())
                             : ::linkat(folder.get(), file.lastPathComponent().c_str(), folder.get(), kept.c_str(),
                                        0)) != 0) {
            throw ErrorException(Error::posixForPath(errno, folderPath + "/" + kept));
        }
        const std::string keptAs = "; it is kept as " + folderPath + "/" + kept + " and a new one is written";
        if (reading.failure) {
            logError("Cannot read the user defaults file " + file.path() + ": " + *reading.failure + keptAs + ".");
        } else {
            logError("The user defaults file " + file.path() +
                     " holds strings that cannot be written again (not UTF-8 text, or with a NUL) under " +
                     quotedKeys(dropped) + keptAs + " without them.");
        }
    }
    try {
        replaceFileAtomically(folder.get(), folderPath, file.lastPathComponent(), xml, preferencesFileMode);
    } catch (const ErrorException& error) {
        throw ErrorException(writeFailure(error.error(), file.path()));
    }
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
    modify(*fileURL_, key, [&](coding::Object& root) { root.set(key, coding::Data{data}); });
}

void UserDefaults::removeObject(const std::string& key) {
    checkKey(key);
    if (!fileURL_) {
        throwNoConfigurationFolder();
    }
    modify(*fileURL_, key, [&](coding::Object& root) { root.erase(key); });
}

} // namespace velmor
