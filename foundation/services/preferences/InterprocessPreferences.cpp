#include "foundation/services/preferences/InterprocessPreferences.hpp"

#include "foundation/services/fsevents/FSEventMonitor.hpp"
#include "platform/coding/PropertyList.hpp"
#include "platform/error/Error.hpp"
#include "platform/fs/AtomicFile.hpp"
#include "platform/fs/Descriptor.hpp"
#include "platform/fs/FileContents.hpp"
#include "platform/fs/FileName.hpp"
#include "platform/text/UTF8.hpp"

#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace velmor {

namespace {

// Everyone reads the tables: the file and the folders made for it are readable by all, whatever
// the writer's umask.
constexpr mode_t tableFileMode = 0644;
constexpr mode_t tableFolderMode = 0755;
// A table holds flags and short texts; a file past this is refused unread.
constexpr std::size_t tableSizeLimit = 4 << 20;

using PrefValue = InterprocessPreferences::PrefValue;
using Values = std::map<std::string, PrefValue>;

// A key or text that is not UTF-8 is no valid table: a written table cannot hold it, so one that
// read it could never be written again.
void checkText(const std::string& text, const coding::CodingPath& path) {
    if (!isValidUTF8(text)) {
        throw coding::DecodingError(coding::DecodingError::Kind::dataCorrupted, path,
                                    "The text is not UTF-8.");
    }
}

Values decodeTable(const std::string& bytes) {
    coding::Value tree = coding::fromPropertyList(bytes);
    coding::Decoder root(tree);
    Values values;
    for (const auto& [key, ignored] : root.object()) {
        checkText(key, {key});
        auto [caseName, payload] = coding::decodeOneKey(root[key], {"bool", "string", "data"});
        if (caseName == "bool") {
            values[key] = payload.decode<bool>("_0");
        } else if (caseName == "string") {
            std::string text = payload.decode<std::string>("_0");
            checkText(text, {key, caseName, std::string("_0")});
            values[key] = std::move(text);
        } else {
            values[key] = payload.decode<coding::Data>("_0");
        }
    }
    return values;
}

std::string encodeTable(const Values& values) {
    coding::Object root;
    for (const auto& [key, value] : values) {
        static constexpr const char* caseNames[] = {"bool", "string", "data"};
        coding::Value payload = std::visit([](const auto& item) { return coding::Value(item); }, value);
        root.set(key, coding::encodeOneKey(caseNames[value.index()], coding::Object{{"_0", std::move(payload)}}));
    }
    return coding::toBinaryPropertyList(root);
}

// Makes `path` and the folders missing above it; each one made here gets `tableFolderMode`.
void createFolders(const std::string& path) {
    struct ::stat record {};
    if (::stat(path.c_str(), &record) == 0) {
        if (!S_ISDIR(record.st_mode)) {
            throw ErrorException(Error::posixForPath(ENOTDIR, path));
        }
        return;
    }
    auto slash = path.rfind('/');
    if (slash != std::string::npos && slash > 0) {
        createFolders(path.substr(0, slash));
    }
    if (::mkdir(path.c_str(), tableFolderMode) != 0) {
        if (errno == EEXIST) {
            return; // made by another writer meanwhile
        }
        throw ErrorException(Error::posixForPath(errno, path));
    }
    ::chmod(path.c_str(), tableFolderMode);
}

} // namespace

struct InterprocessPreferences::Table {
    Table(URL storagePath, std::shared_ptr<Logger> logger, bool usable)
        : storagePath(std::move(storagePath)), logger(std::move(logger)), usable(usable) {}

    void load() {
        if (!usable) {
            return;
        }
        std::string bytes;
        try {
            bytes = contentsOfFile(storagePath, tableSizeLimit);
            std::lock_guard lock(valuesLock);
            values = decodeTable(bytes);
        } catch (...) {
            std::string description = readFailureOf(std::current_exception());
            logger->error([description] { return "Failed to read preferences from disk: " + description; });
        }
    }

    // What a failed read of the table says, naming its file.
    std::string readFailureOf(std::exception_ptr failure) const {
        std::string description = errorFromException(failure).description();
        const std::string path = storagePath.path();
        return description.find(path) == std::string::npos ? "The file " + path + " cannot be used: " + description
                                                           : description;
    }

    void reload() {
        load();
        std::function<void()> current;
        {
            std::lock_guard lock(observerLock);
            current = observer;
        }
        if (current) {
            current();
        }
    }

    // Stores one change under the table's lock: the file is read again, changed and replaced, and
    // the values become what the file now holds, so no writer's change is lost to another's.
    void store(const std::string& key, std::optional<PrefValue> value) {
        std::lock_guard writing(writeLock);
        auto apply = [&](Values& into) {
            if (value) {
                into[key] = *value;
            } else {
                into.erase(key);
            }
        };
        try {
            const std::string folderPath = storagePath.deletingLastPathComponent().path();
            createFolders(folderPath);
            const Descriptor folder = openFolder(folderPath);
            // Only the table's writers can take this lock, and a holder is waited for a few seconds
            // at most: then the write fails, naming the table, and the file keeps what it held.
            const Descriptor locked = lockWriters(folder.get(), folderPath, storagePath.lastPathComponent());
            Values merged = valuesOnDisk();
            apply(merged);
            std::string encoded;
            if (auto refusal = refusalOf(key, value, merged, encoded)) {
                // Nothing is changed, here or in the file: the table could not hold it.
                logger->error([refusal] { return "Failed to write preferences to disk: " + *refusal; });
                return;
            }
            try {
                replaceFileAtomically(folder.get(), folderPath, storagePath.lastPathComponent(), encoded,
                                      tableFileMode, ModeRule::exact);
            } catch (const ErrorException& error) {
                throw ErrorException(writeFailure(error.error(), storagePath.path()));
            }
            std::lock_guard lockValues(valuesLock);
            values = std::move(merged);
        } catch (...) {
            std::string description = errorFromException(std::current_exception()).description();
            logger->error([description] { return "Failed to write preferences to disk: " + description; });
            // The change still holds in this process, as it would had the file been written.
            std::lock_guard lockValues(valuesLock);
            apply(values);
        }
    }

    // Why the table cannot take `value` under `key`, if it cannot: the written form has no place for
    // it, or the file with it would be past what its reader takes. Else `encoded` is the new file.
    std::optional<std::string> refusalOf(const std::string& key, const std::optional<PrefValue>& value,
                                         const Values& merged, std::string& encoded) const {
        const std::string path = storagePath.path();
        try {
            if (value) {
                encodeTable(Values{{key, *value}});
            }
        } catch (const coding::EncodingError& error) {
            return "The file " + path + " cannot hold the value of \"" + key + "\": " + error.what();
        }
        encoded = encodeTable(merged);
        if (encoded.size() > tableSizeLimit) {
            return tooLargeForReader(path, "the value of \"" + key + "\"", encoded.size(), tableSizeLimit)
                .description();
        }
        return std::nullopt;
    }

    static Descriptor openFolder(const std::string& path) {
        Descriptor folder(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (!folder) {
            throw ErrorException(Error::posixForPath(errno, path));
        }
        return folder;
    }

    // What the file holds now; nothing for a missing file. A file that cannot be read or is no
    // valid table is logged and stands replaced by the values last read, rather than lose them all.
    Values valuesOnDisk() {
        try {
            auto bytes = readFileIfPresent(storagePath.path(), tableSizeLimit);
            if (!bytes) {
                return {};
            }
            return decodeTable(*bytes);
        } catch (...) {
            std::string description = readFailureOf(std::current_exception());
            logger->error([description] { return "Failed to read preferences from disk: " + description; });
            std::lock_guard lock(valuesLock);
            return values;
        }
    }

    const URL storagePath;
    const std::shared_ptr<Logger> logger;
    // False for a name that would lead out of the folder: such a table never touches a file.
    const bool usable;
    std::atomic<bool> runningForTests{false};

    std::mutex valuesLock;
    Values values;
    std::mutex writeLock;
    std::mutex observerLock;
    std::function<void()> observer;
};

InterprocessPreferences::InterprocessPreferences(const TableName& name, const LoggerFactory& loggerFactory)
    : InterprocessPreferences(name, loggerFactory, URL::fileURL(sharedFolder)) {}

InterprocessPreferences::InterprocessPreferences(const TableName& name, const LoggerFactory& loggerFactory,
                                                 const URL& folder) {
    bool usable = isPlainFileName(name.rawValue);
    URL storagePath = usable ? folder.appendingPathComponent(name.rawValue + ".plist") : folder;
    table_ = std::make_shared<Table>(storagePath, loggerFactory("sharedPref-" + name.rawValue), usable);
    if (!usable) {
        std::string rawValue = name.rawValue;
        table_->logger->error([rawValue] {
            return "Invalid preferences table name \"" + rawValue +
                   "\": it must not be empty, \".\" or \"..\", nor hold \"/\" or NUL; the table stays empty.";
        });
        return;
    }
    eventMonitor_ = std::make_unique<FSEventMonitor>(storagePath);
    std::weak_ptr<Table> weak = table_;
    eventMonitor_->startMonitoring(0.5, [weak] {
        if (auto table = weak.lock()) {
            table->reload();
        }
    });
    table_->load();
}

InterprocessPreferences::InterprocessPreferences(const URL& filePath, const LoggerFactory& loggerFactory)
    : table_(std::make_shared<Table>(filePath, loggerFactory("sharedPref-filePathBased"), true)),
      eventMonitor_(std::make_unique<FSEventMonitor>(filePath)) {
    table_->load();
}

InterprocessPreferences::~InterprocessPreferences() {
    // The monitor goes first: its end waits for a reload in flight.
    eventMonitor_.reset();
}

std::optional<PrefValue> InterprocessPreferences::lookUp(const std::string& key) const {
    std::lock_guard lock(table_->valuesLock);
    auto found = table_->values.find(key);
    if (found == table_->values.end()) {
        return std::nullopt;
    }
    return found->second;
}

void InterprocessPreferences::store(const std::string& key, std::optional<PrefValue> value) {
    if (::getuid() != 0 && !table_->runningForTests) {
        table_->logger->error([] { return std::string("Cannot set value on InterprocessPreferences from non-root user"); });
        return;
    }
    if (!table_->usable) {
        return;
    }
    table_->store(key, std::move(value));
}

void InterprocessPreferences::observe(std::function<void()> observer) {
    std::function<void()> previous;
    std::lock_guard lock(table_->observerLock);
    previous = std::exchange(table_->observer, std::move(observer));
}

void InterprocessPreferences::stopObserving() {
    observe(nullptr);
}

const URL& InterprocessPreferences::storagePath() const {
    return table_->storagePath;
}

void InterprocessPreferences::setRunnningForTests(bool value) {
    table_->runningForTests = value;
}

bool InterprocessPreferences::isRunnningForTests() const {
    return table_->runningForTests;
}

} // namespace velmor
