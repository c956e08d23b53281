#include "platform/defaults/UserDefaults.hpp"

#include "platform/bundle/Bundle.hpp"
#include "platform/error/Error.hpp"
#include "platform/fs/AtomicFile.hpp"
#include "platform/fs/FileContents.hpp"
#include "platform/fs/Descriptor.hpp"
#include "platform/fs/FileName.hpp"
#include "platform/fs/UserDirectories.hpp"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <limits>
#include <memory>
#include <plist/plist.h>
#include <stdexcept>
#include <sys/file.h>
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

// The suite's dictionary; an empty one when the file does not exist or is empty.
PlistPointer readDictionary(const std::string& path) {
    auto contents = readFileIfPresent(path);
    if (!contents || contents->empty()) {
        return PlistPointer(::plist_new_dict());
    }
    plist_t root = nullptr;
    if (contents->size() <= std::numeric_limits<std::uint32_t>::max()) {
        ::plist_from_memory(contents->data(), static_cast<std::uint32_t>(contents->size()), &root);
    }
    PlistPointer owner(root);
    if (root == nullptr || ::plist_get_node_type(root) != PLIST_DICT) {
        static constexpr std::int64_t fileReadCorruptFile = 259;
        throw ErrorException(Error(
            Error::cocoaDomain, fileReadCorruptFile,
            {{Error::localizedDescriptionKey,
              "The user defaults file " + path + " is not a property-list dictionary; it is left as it is."},
             {Error::filePathKey, path}}));
    }
    return owner;
}

// Applies `change` to the suite's dictionary under the folder's lock and writes the result back.
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
    PlistPointer root = readDictionary(file.path());
    change(static_cast<plist_t>(root.get()));
    char* xml = nullptr;
    std::uint32_t length = 0;
    ::plist_to_xml(static_cast<plist_t>(root.get()), &xml, &length);
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
    PlistPointer root = readDictionary(fileURL_->path());
    plist_t entry = ::plist_dict_get_item(static_cast<plist_t>(root.get()), key.c_str());
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
