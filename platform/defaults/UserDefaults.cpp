#include "platform/defaults/UserDefaults.hpp"

#include "platform/bundle/Bundle.hpp"
#include "platform/error/Error.hpp"
#include "platform/fs/AtomicFile.hpp"
#include "platform/fs/FileContents.hpp"
#include "platform/fs/Descriptor.hpp"
#include "platform/fs/FileName.hpp"
#include "platform/fs/UserDirectories.hpp"
#include "platform/log/OSLog.hpp"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <limits>
#include <memory>
#include <mutex>
#include <set>
#include <plist/plist.h>
#include <stdexcept>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace velmor {

namespace {

struct PlistDeleter {
    void operator()(void* node) const { ::plist_free(static_cast<plist_t>(node)); }
};
using PlistPointer = std::unique_ptr<void, PlistDeleter>;

// Preferences hold what the user chose: readable by them alone.
constexpr mode_t preferencesFileMode = 0600;

std::string standardSuiteName() {
    if (auto identifier = Bundle::main().bundleIdentifier(); identifier && isPlainFileName(*identifier)) {
        return *identifier;
    }
    // The process's name, as the program was started.
    return program_invocation_short_name;
}

// A key is handed to libplist as C text, so a NUL would silently cut it short.
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
    PlistPointer root;
    std::optional<std::string> failure;
    // The process, not the file, was short of something: a later attempt may read the file whole.
    std::optional<Error> shortage;
};

// The suite's dictionary; an empty one when the file does not exist, is empty, or cannot be used.
Reading readDictionary(const std::string& path) {
    std::optional<std::string> contents;
    try {
        contents = readFileIfPresent(path);
    } catch (const ErrorException& exception) {
        const Error& error = exception.error();
        bool shortage = error.domain() == Error::posixDomain &&
                        (error.code() == EMFILE || error.code() == ENFILE || error.code() == ENOMEM);
        return {PlistPointer(::plist_new_dict()), error.description(),
                shortage ? std::optional<Error>(error) : std::nullopt};
    }
    if (!contents || contents->empty()) {
        return {PlistPointer(::plist_new_dict()), std::nullopt, std::nullopt};
    }
    plist_t root = nullptr;
    if (contents->size() <= std::numeric_limits<std::uint32_t>::max()) {
        ::plist_from_memory(contents->data(), static_cast<std::uint32_t>(contents->size()), &root);
    }
    PlistPointer owner(root);
    if (root == nullptr || ::plist_get_node_type(root) != PLIST_DICT) {
        return {PlistPointer(::plist_new_dict()), "it is not a property-list dictionary", std::nullopt};
    }
    return {std::move(owner), std::nullopt, std::nullopt};
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
void modify(const URL& file, const std::function<void(plist_t)>& change) {
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
    change(static_cast<plist_t>(reading.root.get()));
    char* xml = nullptr;
    std::uint32_t length = 0;
    ::plist_to_xml(static_cast<plist_t>(reading.root.get()), &xml, &length);
    if (xml == nullptr) {
        throw ErrorException(Error::posixForPath(ENOMEM, file.path()));
    }
    std::unique_ptr<char, void (*)(char*)> text(xml, ::plist_to_xml_free);
    replaceFileAtomically(folder.get(), folderPath, file.lastPathComponent(), std::string_view(xml, length),
                          preferencesFileMode);
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
    Reading reading = readDictionary(fileURL_->path());
    if (reading.failure) {
        logUnusableRead(fileURL_->path(), *reading.failure);
    }
    plist_t entry = ::plist_dict_get_item(static_cast<plist_t>(reading.root.get()), key.c_str());
    if (entry == nullptr || ::plist_get_node_type(entry) != PLIST_DATA) {
        return std::nullopt;
    }
    char* bytes = nullptr;
    std::uint64_t length = 0;
    ::plist_get_data_val(entry, &bytes, &length);
    std::unique_ptr<char, void (*)(void*)> owner(bytes, std::free);
    auto first = reinterpret_cast<const std::uint8_t*>(bytes);
    return std::vector<std::uint8_t>(first, first + length);
}

void UserDefaults::set(const std::vector<std::uint8_t>& data, const std::string& key) {
    checkKey(key);
    if (!fileURL_) {
        throwNoConfigurationFolder();
    }
    modify(*fileURL_, [&](plist_t root) {
        ::plist_dict_set_item(root, key.c_str(),
                              ::plist_new_data(reinterpret_cast<const char*>(data.data()), data.size()));
    });
}

void UserDefaults::removeObject(const std::string& key) {
    checkKey(key);
    if (!fileURL_) {
        throwNoConfigurationFolder();
    }
    modify(*fileURL_, [&](plist_t root) { ::plist_dict_remove_item(root, key.c_str()); });
}

} // namespace velmor
