#include "foundation/services/abtesting/ABTestingEngine.hpp"

#include "platform/fs/AtomicFile.hpp"
#include "platform/fs/Descriptor.hpp"
#include "platform/fs/FileContents.hpp"
#include "platform/notification/DistributedNotificationCenter.hpp"

#include <nlohmann/json.hpp>

#include <cerrno>
#include <climits>
#include <cstring>
#include <optional>
#include <set>
#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

namespace velmor {

namespace {

using EngineError = TypedError<ABTestingEngine::Error>;

int openFolder(const URL& folder) {
    return ::open(folder.path().c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
}

// The local sync holds a draw and a flag per feature.
constexpr std::size_t localSyncSizeLimit = 4 << 20;

// The whole file; nothing when there is none. Any other failure is thrown, as it says nothing of
// the draws that the file may hold.
std::optional<std::string> readAll(int folder, const URL& file) {
    WholeFile read =
        folder >= 0 ? readWholeFile(file.lastPathComponent(), localSyncSizeLimit, FinalLink::refuse, folder)
                    : readWholeFile(file.path(), localSyncSizeLimit, FinalLink::refuse);
    if (read.error == ENOENT) {
        return std::nullopt;
    }
    if (read.error != 0) {
        throw ErrorException(readFailure(read, file.path()));
    }
    return std::move(read.contents);
}

LocalSync decodeLocalSync(const std::string& text) {
    auto json = nlohmann::json::parse(text, nullptr, false);
    if (!json.is_object() || !json.contains("activation") || !json.contains("rates") ||
        !json["activation"].is_object() || !json["rates"].is_object()) {
        throw EngineError(ABTestingEngine::Error::wrongLocalFileFormat);
    }
    LocalSync sync;
    for (const auto& [name, active] : json["activation"].items()) {
        if (!active.is_boolean()) {
            throw EngineError(ABTestingEngine::Error::wrongLocalFileFormat);
        }
        sync.activation[name] = active.get<bool>();
    }
    for (const auto& [name, rate] : json["rates"].items()) {
        if (!rate.is_number_integer() ||
            (rate.is_number_unsigned() && rate.get<std::uint64_t>() > INT64_MAX)) {
            throw EngineError(ABTestingEngine::Error::wrongLocalFileFormat);
        }
        sync.rates[name] = rate.get<std::int64_t>();
    }
    return sync;
}

// A write failure as file operations report it: its own code, the POSIX cause underneath.
velmor::Error fileWriteError(int posixCode, const URL& url) {
    std::int64_t code = 512; // unknown
    switch (posixCode) {
    case ENOENT:
        code = 4;
        break;
    case EACCES:
    case EPERM:
        code = 513;
        break;
    case ENOSPC:
    case EDQUOT:
        code = 640;
        break;
    case EROFS:
        code = 642;
        break;
    }
    const velmor::Error cause = velmor::Error::posix(posixCode, EIO);
    return velmor::Error(
        velmor::Error::cocoaDomain, code,
        {{velmor::Error::localizedDescriptionKey,
          "The file \"" + url.lastPathComponent() + "\" could not be saved: " + cause.description() + "."},
         {velmor::Error::underlyingErrorKey, std::make_shared<const velmor::Error>(cause)},
         {velmor::Error::filePathKey, url.path()}});
}

struct Evaluation {
    LocalSync sync;
    std::vector<std::string> removed;
    // Stored draws outside 1...100 that were drawn again.
    bool redrawn = false;
};

bool isDraw(std::int64_t value) {
    return value >= 1 && value <= 100;
}

// A feature keeps its draw while it stays in the remote file; a new or returning one draws anew,
// as does one whose stored draw no draw could have given. Whatever the old sync knew of that is not
// in the remote file has left it, also a feature with an activation but no draw.
Evaluation evaluate(const FeatureSet& remote, const LocalSync& old) {
    Evaluation result;
    for (const auto& [feature, percentage] : remote) {
        auto stored = old.rates.find(feature);
        const bool kept = stored != old.rates.end() && isDraw(stored->second);
        result.redrawn = result.redrawn || (stored != old.rates.end() && !kept);
        std::int64_t draw = kept ? stored->second : ABTestingEngine::draw();
        result.sync.rates[feature] = draw;
        result.sync.activation[feature] = percentage >= draw;
    }
    std::set<std::string> left;
    auto noteLeft = [&](const auto& known) {
        for (const auto& entry : known) {
            if (!remote.contains(entry.first)) {
                left.insert(entry.first);
            }
        }
    };
    noteLeft(old.rates);
    noteLeft(old.activation);
    result.removed.assign(left.begin(), left.end());
    return result;
}

// Names come from the download: one that is not a single plain file name gets no flag file.
bool isPlainFileName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
           name.find('\0') == std::string::npos && name.size() <= NAME_MAX;
}

} // namespace

std::string describe(const Activation& activation) {
    if (activation.empty()) {
        return "[:]";
    }
    std::string text = "[";
    for (const auto& [feature, active] : activation) {
        if (text.size() > 1) {
            text += ", ";
        }
        text += "\"" + feature + "\": " + (active ? "true" : "false");
    }
    return text + "]";
}

ABTestingEngine::ABTestingEngine(ABTestingEngineLocations locations, std::string product,
                                 const LoggerFactory& loggerFactory)
    : ABTestingEngine(std::move(locations), std::move(product), loggerFactory, URLSessionConfiguration{}) {}

ABTestingEngine::ABTestingEngine(ABTestingEngineLocations locations, std::string product,
                                 const LoggerFactory& loggerFactory, URLSessionConfiguration session)
    : locations_(std::move(locations)), flagFilesPrefix_(".ab_testing_" + product + "_"),
      localSyncFileURL_(locations_.localURL.appendingPathComponent("features_" + product + ".json")),
      product_(std::move(product)), provider_(std::make_unique<JSONFeatureSetProvider>(std::move(session))),
      logger_(loggerFactory("ABTestingEngine")) {
    // The observer keeps only the closure holder, so it may outlive the engine.
    DistributedNotificationCenter::defaultCenter().addObserver(notificationName, product_,
                                                               [callback = featuresDidChange_] {
                                                                   std::function<void()> closure;
                                                                   {
                                                                       std::lock_guard lock(callback->mutex);
                                                                       closure = callback->closure;
                                                                   }
                                                                   closure();
                                                               });
}

std::function<void()> ABTestingEngine::featuresDidChange() const {
    std::lock_guard lock(featuresDidChange_->mutex);
    return featuresDidChange_->closure;
}

void ABTestingEngine::setFeaturesDidChange(std::function<void()> closure) {
    std::lock_guard lock(featuresDidChange_->mutex);
    featuresDidChange_->closure = closure ? std::move(closure) : [] {};
}

std::int64_t ABTestingEngine::draw() {
    for (;;) {
        std::uint64_t bits = 0;
        if (::getrandom(&bits, sizeof bits, 0) != static_cast<ssize_t>(sizeof bits)) {
            continue; // interrupted before the pool gave enough
        }
        unsigned __int128 product = static_cast<unsigned __int128>(bits) * 100;
        // 2^64 mod 100 = 16: rejecting these low parts leaves every result equally likely.
        if (static_cast<std::uint64_t>(product) < 16) {
            continue;
        }
        return static_cast<std::int64_t>(product >> 64) + 1;
    }
}

namespace {

// The text of the local sync file at `path` holding `sync`; an error when its reader would refuse it.
std::string localSyncText(const LocalSync& sync, const std::string& path) {
    nlohmann::json json = {{"activation", nlohmann::json::object()}, {"rates", nlohmann::json::object()}};
    for (const auto& [feature, active] : sync.activation) {
        json["activation"][feature] = active;
    }
    for (const auto& [feature, rate] : sync.rates) {
        json["rates"][feature] = rate;
    }
    std::string text;
    try {
        text = json.dump();
    } catch (const nlohmann::json::exception& error) {
        // Feature names that are not UTF-8 cannot be written as JSON.
        throw ErrorException(
            velmor::Error(velmor::Error::cocoaDomain, 4866,
                          {{velmor::Error::localizedDescriptionKey, std::string(error.what())}}));
    }
    if (text.size() > localSyncSizeLimit) {
        throw ErrorException(tooLargeForReader(path, "the draws of " + std::to_string(sync.rates.size()) + " features",
                                               text.size(), localSyncSizeLimit));
    }
    return text;
}

} // namespace

LocalSync ABTestingEngine::readLocalSync(int folder) const {
    std::optional<std::string> text = readAll(folder, localSyncFileURL_);
    if (!text || text->empty()) {
        return {};
    }
    return decodeLocalSync(*text);
}

ABTestingEngine::UpdateResult ABTestingEngine::updateFeatures() {
    Activation updated;
    try {
        logger_->info([&] { return "Reading remote feature set at " + locations_.remoteURL; });
        FeatureSet remote = provider_->fetchFeatureSet(locations_.remoteURL);
        // Every feature may become a flag file of root's: a file of thousands is no test plan.
        if (remote.size() > maximumFeatureCount) {
            logger_->error([&] {
                return "Remote feature set has " + std::to_string(remote.size()) + " features; only the first " +
                       std::to_string(maximumFeatureCount) + " are taken";
            });
            remote.erase(std::next(remote.begin(), maximumFeatureCount), remote.end());
        }

        logger_->info([&] { return "Reading local sync at " + localSyncFileURL_.absoluteString(); });
        // Held from reading the draws to storing them, so two updaters never draw for one feature. Only
        // updaters can take it, and one held for more than a few seconds fails the update.
        Descriptor folder(openFolder(locations_.localURL));
        Descriptor locked;
        if (folder.get() >= 0) {
            locked = lockWriters(folder.get(), locations_.localURL.path(), localSyncFileURL_.lastPathComponent());
        }
        LocalSync old = readLocalSync(folder.get());
        Evaluation evaluation = evaluate(remote, old);
        if (evaluation.sync.activation == old.activation) {
            // A draw taken again is kept, so the feature does not change sides at the next update.
            if (evaluation.redrawn) {
                writeLocalSync(folder.get(), localSyncText(evaluation.sync, localSyncFileURL_.path()));
            }
            logger_->info([&] { return "Features unchanged: " + describe(old.activation); });
            return {UpdateResult::Kind::unchanged, old.activation};
        }
        // Made before any flag changes, so that draws the file cannot hold change nothing.
        const std::string text = localSyncText(evaluation.sync, localSyncFileURL_.path());
        logger_->info([] { return std::string("Updating flag files"); });
        updateFlagFiles(evaluation.sync.activation, evaluation.removed);
        logger_->info([&] { return "Writing local sync at " + localSyncFileURL_.absoluteString(); });
        writeLocalSync(folder.get(), text);
        updated = std::move(evaluation.sync.activation);
    } catch (const ComponentError& error) {
        logger_->error([&] { return "Failed to update features: " + error.toError().description(); });
        throw;
    }
    logger_->info([&] { return "Features updated: " + describe(updated); });
    featuresDidChange()();
    DistributedNotificationCenter::defaultCenter().post(notificationName, product_);
    return {UpdateResult::Kind::updated, updated};
}

Activation ABTestingEngine::activation() const {
    try {
        return readLocalSync(-1).activation;
    } catch (const ComponentError& error) {
        logger_->error([&] { return "Failed to list enabled feature flags: " + error.toError().description(); });
        return {};
    }
}

void ABTestingEngine::updateFlagFiles(const Activation& activation,
                                      const std::vector<std::string>& removed) const {
    // Root writes here in a folder others may plant entries in: never follow a link, never touch
    // anything that is not a plain file of ours. Failures are ignored, as for any flag file.
    Descriptor folder(openFolder(locations_.flagFilesDirectoryURL));
    auto remove = [&](const std::string& feature) {
        const std::string name = flagFilesPrefix_ + feature;
        logger_->debug([&] {
            return "Deleting flag file " +
                   locations_.flagFilesDirectoryURL.appendingPathComponent(name).absoluteString();
        });
        struct ::stat record {};
        if (folder.get() >= 0 && isPlainFileName(name) &&
            ::fstatat(folder.get(), name.c_str(), &record, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISREG(record.st_mode)) {
            ::unlinkat(folder.get(), name.c_str(), 0);
        }
    };
    for (const auto& [feature, active] : activation) {
        const std::string name = flagFilesPrefix_ + feature;
        if (!isPlainFileName(name)) {
            logger_->error([&] { return "Feature name unfit for a flag file: " + feature; });
            continue;
        }
        if (!active) {
            remove(feature);
            continue;
        }
        logger_->debug([&] {
            return "Creating flag file " +
                   locations_.flagFilesDirectoryURL.appendingPathComponent(name).absoluteString();
        });
        if (folder.get() < 0) {
            continue;
        }
        // No O_TRUNC: a planted hard link must not empty someone else's file.
        Descriptor file(::openat(folder.get(), name.c_str(),
                                     O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644));
        struct ::stat record {};
        if (file.get() >= 0 && ::fstat(file.get(), &record) == 0 && S_ISREG(record.st_mode) &&
            record.st_nlink == 1 && record.st_size != 0) {
            [[maybe_unused]] int ignored = ::ftruncate(file.get(), 0);
        }
    }
    for (const auto& feature : removed) {
        remove(feature);
    }
}

void ABTestingEngine::writeLocalSync(int folder, const std::string& text) const {
    // Readers see the old file or the new one, never a missing or partial one.
    const std::string path = localSyncFileURL_.path();
    auto fail = [&](int code, const std::string& temporary) {
        if (!temporary.empty()) {
            ::unlink(temporary.c_str());
        }
        throw ErrorException(fileWriteError(code, localSyncFileURL_));
    };
    if (folder < 0) {
        Descriptor again(openFolder(locations_.localURL));
        fail(again.get() < 0 ? errno : EIO, {});
    }
    std::string temporary =
        locations_.localURL.appendingPathComponent("." + localSyncFileURL_.lastPathComponent() + ".XXXXXX")
            .path();
    Descriptor file(::mkostemp(temporary.data(), O_CLOEXEC));
    if (file.get() < 0) {
        fail(errno, {});
    }
    if (::fchmod(file.get(), 0644) != 0) {
        fail(errno, temporary);
    }
    for (std::size_t written = 0; written < text.size();) {
        ssize_t count = ::write(file.get(), text.data() + written, text.size() - written);
        if (count < 0) {
            if (errno == EINTR) {
                continue;
            }
            fail(errno, temporary);
        }
        written += static_cast<std::size_t>(count);
    }
    if (::fsync(file.get()) != 0) {
        fail(errno, temporary);
    }
    if (::rename(temporary.c_str(), path.c_str()) != 0) {
        fail(errno, temporary);
    }
    ::fsync(folder);
}

} // namespace velmor
