#include "foundation/services/diskimage/DMGMounter.hpp"

#include "foundation/services/diskimage/DMGMounterError.hpp"
#include "foundation/services/diskimage/DMGUnmounter.hpp"
#include "foundation/services/diskimage/DiskImageTool.hpp"
#include "platform/coding/PropertyList.hpp"
#include "platform/diskimage/BlockDevices.hpp"
#include "platform/diskimage/PathText.hpp"
#include "platform/fs/Descriptor.hpp"
#include "platform/fs/MountTable.hpp"
#include "platform/fs/ResolvedPath.hpp"
#include "platform/fs/StandardizedPath.hpp"
#include "platform/fs/UserDirectories.hpp"
#include "platform/uuid/UUID.hpp"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <random>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace velmor {

namespace {

std::atomic<double> toolTimeoutSeconds{60.0};

std::string address(const void* object) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%p", object);
    return buffer;
}

std::string forceText(bool force) { return force ? "(-force)" : ""; }

std::string busyText(std::int32_t status) {
    return status == 16 ? " (EBUSY. Resources on the disk image are still in use.)" : "";
}

std::string boolText(bool value) { return value ? "true" : "false"; }

bool isStillMounted(const DMGPartition& partition) {
    if (!partition.mountPoint()) {
        return false;
    }
    const auto table = readMountTable();
    return mountAt(table, partition.mountPoint()->path()) != nullptr;
}

NSTask::SynchronousRunResult runTool(const std::vector<std::string>& arguments,
                                     std::optional<NSTask::Bytes> input = std::nullopt) {
    return NSTask::run(DiskImageTool::path(), arguments, std::move(input), DMGMounter::toolTimeout());
}

// `verb` `target`, then "-force" when forced.
NSTask::SynchronousRunResult runTool(const char* verb, const std::string& target, bool force) {
    std::vector<std::string> arguments{verb, target};
    if (force) {
        arguments.push_back("-force");
    }
    return runTool(arguments);
}

const std::string* stringFor(const coding::Object& object, const std::string& key) {
    const coding::Value* value = object.find(key);
    return value ? value->get<std::string>() : nullptr;
}

// A path the tool wrote as `pathText` does; nothing when the key holds no string, or a file URL
// text that names no path.
std::optional<std::string> pathFor(const coding::Object& object, const std::string& key) {
    const std::string* text = stringFor(object, key);
    return text ? pathFromText(*text) : std::nullopt;
}

std::shared_ptr<Logger> loggerFrom(const LoggerFactory& factory) { return factory("DMGMounter"); }

std::string otherErrorText(const NSTask::Bytes& standardOutput, const std::optional<NSTask::Bytes>& standardError) {
    return "stdout: " + utf8OrEmpty(standardOutput) + "\nstderr: " +
           (standardError ? utf8OrEmpty(*standardError) : std::string());
}

// The text after the last dot of a name, when the dot is neither its first nor its last character.
std::string pathExtension(const std::string& name) {
    const auto dot = name.find_last_of('.');
    if (dot == std::string::npos || dot == 0 || dot + 1 == name.size()) {
        return {};
    }
    return name.substr(dot + 1);
}

std::string lowercased(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return text;
}

// The first three lines an XML property list starts with, as the tool writes them.
const std::string& plistHeader() {
    static const std::string header = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                                      "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
                                      "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
                                      "<plist version=\"1.0\">";
    return header;
}

const std::string dashes(54, '-');

} // namespace

double DMGMounter::toolTimeout() { return toolTimeoutSeconds.load(); }
void DMGMounter::setToolTimeout(double seconds) { toolTimeoutSeconds.store(seconds); }

std::shared_ptr<DMGMount> DMGMounter::makeMount(const URL& imageURL, const coding::Array& systemEntities,
                                                bool checkMountable, const LoggerFactory& loggerFactory) {
    auto mount = std::make_shared<DMGMount>(loggerFactory);
    mount->setInternalDiskImageURL(imageURL);
    const auto logger = loggerFrom(loggerFactory);
    const std::string image = imageURL.path();
    const std::string tag = " (<DMGMount " + address(mount.get()) + ">)";
    const BlockDevices devices;
    for (const auto& value : systemEntities) {
        const auto* entity = value.get<coding::Object>();
        if (entity == nullptr) {
            continue;
        }
        std::optional<std::string> devEntry;
        std::optional<std::string> wholeDisk;
        if (const std::string* dev = stringFor(*entity, "dev-entry")) {
            devEntry = *dev;
            logger->debug([&] { return "in '" + image + "', found devEntry: " + *devEntry + tag; });
            if (devices.kernelName(*devEntry)) {
                wholeDisk = devices.wholeDiskName(*devEntry);
                logger->debug([&] {
                    return "in '" + image + "', found wholeDiskDevEntry: " + wholeDisk.value_or("nil") + tag;
                });
            }
        }
        if (checkMountable) {
            const coding::Value* mountable = entity->find("potentially-mountable");
            const bool* flag = mountable ? mountable->get<bool>() : nullptr;
            if (flag == nullptr || !*flag) {
                auto partition = DMGPartition::recordingAttachSequence(std::nullopt, devEntry, wholeDisk);
                logger->debug([&] {
                    return "\tin '" + image + "', adding (mountable unchecked) partition to <DMGMount " +
                           address(mount.get()) + ">: " + partition.description();
                });
                mount->appendPartition(std::move(partition));
                continue;
            }
        }
        if (const auto point = pathFor(*entity, "mount-point")) {
            logger->debug([&] {
                return "in '" + image + "', found mountPoint: " + *point + " for devEntry: " +
                       devEntry.value_or("nil") + tag;
            });
            auto partition = DMGPartition::recordingAttachSequence(URL::fileURL(*point), devEntry, wholeDisk);
            logger->debug([&] {
                return "\tin '" + image + "', adding mountable partition to <DMGMount " + address(mount.get()) +
                       ">: " + partition.description();
            });
            mount->appendPartition(std::move(partition));
        }
    }
    if (mount->partitions().empty()) {
        throw DMGMounterError::noPartitionsAvailable();
    }
    return mount;
}

DMGMounter::AttachedImages DMGMounter::parseInfoOutput(const NSTask::Bytes& standardOutput,
                                                       const std::optional<NSTask::Bytes>& standardError,
                                                       const LoggerFactory& loggerFactory) {
    const auto logger = loggerFrom(loggerFactory);
    coding::Value root;
    try {
        root = coding::fromPropertyList(
            std::string_view(reinterpret_cast<const char*>(standardOutput.data()), standardOutput.size()));
    } catch (...) {
        root = coding::Value();
    }
    const auto* top = root.get<coding::Object>();
    const coding::Value* imagesValue = top ? top->find("images") : nullptr;
    const auto* images = imagesValue ? imagesValue->get<coding::Array>() : nullptr;
    if (images == nullptr) {
        throw DMGMounterError::otherError(otherErrorText(standardOutput, standardError));
    }
    AttachedImages result;
    if (images->empty()) {
        logger->info([] { return std::string("No attached disk images."); });
        return result;
    }
    for (const auto& value : *images) {
        const auto* entry = value.get<coding::Object>();
        const auto imagePath = entry ? pathFor(*entry, "image-path") : std::nullopt;
        if (!imagePath) {
            continue;
        }
        const coding::Value* entitiesValue = entry->find("system-entities");
        const auto* entities = entitiesValue ? entitiesValue->get<coding::Array>() : nullptr;
        if (entities == nullptr) {
            logger->error([&] {
                return "hdiutil references an attached disk image:" + *imagePath +
                       " that has no \"system-entities\" entries?! -  output: " + utf8OrEmpty(standardOutput);
            });
            continue;
        }
        try {
            result[standardizingPath(*imagePath)] = makeMount(URL::fileURL(*imagePath), *entities, false, loggerFactory);
        } catch (const DMGMounterError&) {
        }
    }
    return result;
}

DMGMounter::AttachedImages DMGMounter::attachedDiskImages(const LoggerFactory& loggerFactory) {
    auto run = runTool({"info", "-plist"});
    if (!run.result().isSuccess()) {
        if (isTimeout(run.result().error())) {
            killTimedOutTool(run);
        }
        throw ErrorException(run.result().error());
    }
    try {
        return parseInfoOutput(run.stdout(), run.stderr(), loggerFactory);
    } catch (const DMGMounterError& error) {
        if (error.kind() == DMGMounterError::Case::otherError) {
            loggerFrom(loggerFactory)->error(
                [&] { return "Failed to get attached disk images. hdiutil:\n" + error.hdiutilOutput(); });
        }
        throw;
    }
}

std::shared_ptr<DMGMount> DMGMounter::checkIfAttached(const URL& diskImageURL, const LoggerFactory& loggerFactory) {
    const auto logger = loggerFrom(loggerFactory);
    const std::string path = diskImageURL.path();
    logger->debug([&] { return "Checking if " + path + " is already attached..."; });
    AttachedImages images;
    try {
        images = attachedDiskImages(loggerFactory);
    } catch (...) {
        logger->error([] { return std::string("Could not get attached images"); });
        return nullptr;
    }
    // The listing names each image by its real path: a caller naming it through a link, or through
    // a linked folder, means the same image.
    const std::string resolvedPath = resolvingSymlinksOr(path);
    for (const std::string& key : {standardizingPath(path), resolvedPath}) {
        if (auto found = images.find(key); found != images.end()) {
            logger->info([&] { return "=> " + path + " WAS ALREADY MOUNTED"; });
            return found->second;
        }
    }
    for (const auto& [key, mount] : images) {
        const std::string resolved = resolvingSymlinksOr(URL::fileURL(key).path());
        if (resolved == path || resolved == resolvedPath) {
            logger->info([&] { return "=> " + path + " WAS ALREADY MOUNTED"; });
            mount->setSymlinkDiskImageURL(URL::fileURL(key));
            return mount;
        }
    }
    logger->debug([&] { return "=> " + path + " is NOT MOUNTED"; });
    return nullptr;
}

void DMGMounter::removeOwnedLink(const std::optional<URL>& link, bool owned) {
    if (!link || !owned) {
        return;
    }
    const URL folder = link->deletingLastPathComponent();
    const std::string name = link->lastPathComponent();
    const Descriptor folderFd(::open(folder.path().c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (folderFd.get() < 0) {
        return;
    }
    struct ::stat record {};
    if (::fstatat(folderFd.get(), name.c_str(), &record, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(record.st_mode)) {
        ::unlinkat(folderFd.get(), name.c_str(), 0);
    }
    // Gone only when empty; anything else put there stays.
    ::rmdir(folder.path().c_str());
}

void DMGMounter::detach(const std::shared_ptr<DMGMount>& mount, bool force, bool retryForever,
                        const LoggerFactory& loggerFactory) {
    const auto logger = loggerFrom(loggerFactory);
    logger->debug([&] { return "Detaching " + forceText(force) + " " + mount->description(); });
    const std::optional<URL> link = mount->symlinkDiskImageURL();
    const bool owned = mount->ownsSymlink();
    try {
        detachImageOnce(*mount, force, loggerFactory);
    } catch (...) {
        if (!retryForever) {
            removeOwnedLink(link, owned);
            throw;
        }
        try {
            DMGUnmounter::shared()->detachRetryingForever(
                *mount, loggerFactory,
                [link, owned](const std::vector<DMGPartition>&, const std::optional<URL>&) {
                    removeOwnedLink(link, owned);
                });
        } catch (...) {
        }
        return;
    }
    removeOwnedLink(link, owned);
}

void DMGMounter::detachImageOnce(const DMGMount& mount, bool force, const LoggerFactory& loggerFactory) {
    const auto logger = loggerFrom(loggerFactory);
    const std::string F = forceText(force);
    logger->debug([&] { return "Detaching " + F + " " + mount.description(); });
    // A partition no longer present may name a device that now serves another image: only present
    // ones are candidates.
    const auto present = mount.mountablePartitions();
    if (present.empty()) {
        logger->info([&] { return mount.description() + " is not mounted. Can't detach."; });
        throw DMGMounterError::failedToDetach();
    }
    std::random_device source;
    std::uniform_int_distribution<std::size_t> pick(0, present.size() - 1);
    const DMGPartition& chosen = present[pick(source)];
    std::string target;
    if (chosen.devEntry()) {
        target = *chosen.devEntry();
    } else if (chosen.mountPoint()) {
        target = chosen.mountPoint()->path();
    } else if (chosen.wholeDiskDevEntry()) {
        target = *chosen.wholeDiskDevEntry();
    } else {
        throw DMGMounterError::invalidArguments();
    }
    auto run = runTool("detach", target, force);
    if (run.result().isSuccess()) {
        const std::int32_t status = run.result().value();
        logger->debug([&] {
            return "Detaching " + F + " " + mount.description() +
                   " hdiutil process return code: " + std::to_string(status);
        });
        if (status != 0) {
            logger->info([&] {
                return "Failed to detach " + F + " " + mount.description() +
                       "\nhdiutil returned: " + std::to_string(status) + busyText(status);
            });
        }
        for (const auto& partition : mount.partitions()) {
            if (partition.isPresent()) {
                logger->info([&] {
                    return "Failed to detach " + F + " " + mount.description() + " because " +
                           partition.description() + " is mounted: " + boolText(partition.isMounted()) +
                           ", attached:" + boolText(partition.isAttached()) +
                           ", wholeDiskAttached: " + boolText(partition.isWholeDiskAttached()) + ".";
                });
                throw DMGMounterError::failedToDetach();
            }
        }
        logger->debug([&] { return mount.description() + " effectively unmounted AND detached :-)"; });
        return;
    }
    const Error error = run.result().error();
    if (isTimeout(error)) {
        logger->info([&] {
            return "Timeout when detaching " + F + " " + mount.description() + " - will kill hdiutil process";
        });
        killTimedOutTool(run);
        throw TypedError<DMGMount::DMGMountError>(DMGMount::DMGMountError::timeout);
    }
    logger->info([&] {
        return "Detaching " + F + " " + mount.description() + " hdiutil process thrown: " + error.description();
    });
    throw ErrorException(error);
}

void DMGMounter::unmount(const DMGPartition& partition, bool force, const LoggerFactory& loggerFactory,
                         const dmgmounter::Sleeper& sleep) {
    loggerFrom(loggerFactory)->debug([&] { return "Unmounting " + partition.description(); });
    dmgmounter::retry(
        10, [&] { unmountPartitionOnce(partition, force, loggerFactory); }, sleep);
}

void DMGMounter::unmountPartitionOnce(const DMGPartition& partition, bool force, const LoggerFactory& loggerFactory) {
    try {
        runHdiutilUnmount(partition, force, loggerFactory);
    } catch (...) {
    }
    if (isStillMounted(partition)) {
        loggerFrom(loggerFactory)->error([&] { return "Failed to unmount " + partition.description(); });
        throw DMGMounterError::failedToDetach();
    }
}

void DMGMounter::runHdiutilUnmount(const DMGPartition& partition, bool force, const LoggerFactory& loggerFactory) {
    const auto logger = loggerFrom(loggerFactory);
    const std::string F = forceText(force);
    const std::string P = partition.description();
    logger->debug([&] { return "Unmounting '" + P + "'"; });
    std::string target;
    if (partition.devEntry()) {
        target = *partition.devEntry();
    } else if (partition.mountPoint()) {
        target = partition.mountPoint()->path();
    } else {
        throw DMGMounterError::invalidArguments();
    }
    // A partition whose device went may name one that serves another image by now.
    if (!partition.isPresent()) {
        logger->debug([&] { return "Partition: " + P + " effectively unmounted :-)"; });
        return;
    }
    auto run = runTool("unmount", target, force);
    if (run.result().isSuccess()) {
        const std::int32_t status = run.result().value();
        logger->debug([&] {
            return "Unmounting " + F + " '" + P + "' hdiutil process return code: " + std::to_string(status);
        });
        if (status != 0) {
            logger->error([&] {
                return "Failed to unmount " + F + " '" + P + "'\nhdiutil returned: " + std::to_string(status) +
                       busyText(status);
            });
        }
        if (isStillMounted(partition)) {
            logger->error([&] { return "Failed to unmount " + F + " " + P + " because it's still mounted!"; });
        } else {
            logger->debug([&] { return "Partition: " + P + " effectively unmounted :-)"; });
        }
        return;
    }
    const Error error = run.result().error();
    if (isTimeout(error)) {
        logger->info([&] { return "Timeout when unmounting " + F + " '" + P + "' - will kill hdiutil process"; });
        killTimedOutTool(run);
        throw TypedError<DMGMount::DMGMountError>(DMGMount::DMGMountError::timeout);
    }
    logger->error([&] { return "Unmounting " + F + " '" + P + "' hdiutil process thrown: " + error.description(); });
    throw ErrorException(error);
}

void DMGMounter::runHdiutilDetachPartition(const DMGPartition& partition, bool force, const Logger& logger) {
    const std::string F = forceText(force);
    const std::string P = partition.description();
    logger.debug([&] { return "detachPartition '" + P + "'"; });
    if (!partition.devEntry()) {
        throw DMGMounterError::invalidArguments();
    }
    auto run = runTool("detach", *partition.devEntry(), force);
    if (run.result().isSuccess()) {
        const std::int32_t status = run.result().value();
        logger.debug([&] {
            return "Detaching " + F + " '" + P + "' hdiutil process return code: " + std::to_string(status);
        });
        if (status != 0) {
            logger.error([&] {
                return "Failed to detach " + F + " '" + P + "'\nhdiutil returned: " + std::to_string(status) +
                       busyText(status);
            });
        }
        if (isStillMounted(partition)) {
            logger.error([&] { return "Failed to detach " + F + " " + P + " because it's still mounted!"; });
            throw DMGMounterError::failedToDetach();
        }
        logger.debug([&] { return "Partition: " + P + " (and its related disk image) effectively detached :-)"; });
        return;
    }
    const Error error = run.result().error();
    if (isTimeout(error)) {
        logger.info([&] { return "Timeout when detaching " + F + " '" + P + "' - will kill hdiutil process"; });
        killTimedOutTool(run);
        throw TypedError<DMGMount::DMGMountError>(DMGMount::DMGMountError::timeout);
    }
    logger.error([&] { return "Detaching " + F + " '" + P + "' hdiutil process thrown: " + error.description(); });
    throw ErrorException(error);
}

const std::vector<std::string>& DMGMounter::supportedDiskImageExtensions() {
    static const std::vector<std::string> extensions{"dmg", "udif",  "img", "toast",       "dvdr",
                                                     "cdr", "dmgpart", "iso", "sparseimage", "sparsebundle"};
    return extensions;
}

DMGMounter::PreparedDiskImage DMGMounter::prepareDiskImageURL(const URL& diskImageURL,
                                                              const LoggerFactory& loggerFactory) {
    const std::string name = diskImageURL.lastPathComponent();
    const std::string extension = lowercased(pathExtension(name));
    const auto& supported = supportedDiskImageExtensions();
    if (!extension.empty() && std::find(supported.begin(), supported.end(), extension) != supported.end()) {
        return {diskImageURL, false};
    }
    const URL folder = temporaryDirectory().appendingPathComponent(UUID::random().uuidString());
    std::error_code failure;
    std::filesystem::create_directories(folder.path(), failure);
    if (failure) {
        throw ErrorException(Error::posixForPath(failure.value(), folder.path()));
    }
    const URL link = folder.appendingPathComponent(name + ".dmg");
    if (::symlink(diskImageURL.path().c_str(), link.path().c_str()) != 0) {
        const int code = errno;
        // The folder was made for this link alone.
        ::rmdir(folder.path().c_str());
        throw ErrorException(Error::posixForPath(code, link.path()));
    }
    loggerFrom(loggerFactory)->info([&] {
        return "unsupported disk image file extension for file: '" + diskImageURL.path() + "', symlinked to: '" +
               link.path() + "'";
    });
    return {link, true};
}

std::shared_ptr<DMGMount> DMGMounter::attach(const URL& diskImageURL, const std::optional<std::string>& password,
                                             bool autoDetachOnDealloc, const LoggerFactory& loggerFactory,
                                             const dmgmounter::Sleeper& sleep) {
    const PreparedDiskImage prepared = prepareDiskImageURL(diskImageURL, loggerFactory);
    const URL working = URL::fileURL(standardizingPath(prepared.url.path()));
    const std::optional<URL> link = prepared.isLink ? std::optional<URL>(working) : std::nullopt;
    // The caller's names for the image; the link, when there is one, is the mount's own to remove.
    const auto name = [&](DMGMount& mount) {
        mount.setDiskImageURL(diskImageURL);
        mount.setSymlinkDiskImageURL(link);
        mount.setOwnsSymlink(link.has_value());
    };
    struct Outcome {
        std::shared_ptr<DMGMount> mount;
        std::optional<DMGMounterError> failure;
    };
    bool firstAttempt = true;
    const auto outcome = dmgmounter::retry(
        3,
        [&]() -> Outcome {
            std::shared_ptr<DMGMount> mount;
            try {
                mount = runHdiutilAttach(working, password, loggerFactory);
            } catch (const DMGMounterError& error) {
                if (error.kind() != DMGMounterError::Case::alreadyMounted) {
                    firstAttempt = false;
                    throw;
                }
                const std::shared_ptr<DMGMount>& found = error.mount();
                name(*found);
                if (firstAttempt) {
                    return {nullptr, error};
                }
                // An earlier attempt that failed (a time-out, say) attached the image after all.
                loggerFrom(loggerFactory)->info([&] {
                    return "Declare " + found->description() +
                           " as mounted sucessfully. It failed on first attempt but was successfully mounted on "
                           "a next attempt.";
                });
                return {found, std::nullopt};
            } catch (...) {
                firstAttempt = false;
                throw;
            }
            if (autoDetachOnDealloc) {
                mount->setDeinitDetachBlock([loggerFactory](DMGMount& released) {
                    // The mount is on its way out: detach reads it during the call and keeps nothing.
                    detach(std::shared_ptr<DMGMount>(std::shared_ptr<DMGMount>(), &released), false, true,
                           loggerFactory);
                });
            }
            name(*mount);
            return {mount, std::nullopt};
        },
        sleep);
    if (outcome.failure) {
        throw *outcome.failure;
    }
    return outcome.mount;
}

std::shared_ptr<DMGMount> DMGMounter::runHdiutilAttach(const URL& diskImageURL,
                                                       const std::optional<std::string>& password,
                                                       const LoggerFactory& loggerFactory) {
    const std::string path = diskImageURL.path();
    if (auto found = checkIfAttached(diskImageURL, loggerFactory)) {
        loggerFrom(loggerFactory)->info([&] { return path + " was already mounted"; });
        throw DMGMounterError::alreadyMounted(std::move(found));
    }
    std::vector<std::string> arguments{"attach", "-plist",    "-noverify", "-noautoopen",  "-noautofsck",  "-owners",
                                       "off",    "-nobrowse", "-readonly", "-mountrandom", "/private/tmp/"};
    NSTask::Bytes input;
    if (password) {
        arguments.push_back("-stdinpass");
        input.assign(password->begin(), password->end());
        input.push_back(0x00);
        input.push_back(0x0A);
    }
    arguments.push_back(path);
    // Answers yes to a question the tool may ask on its standard input.
    for (const std::uint8_t byte : {0x0A, 0x59, 0x0A}) {
        input.push_back(byte);
    }
    auto run = runTool(arguments, std::move(input));
    if (!run.result().isSuccess()) {
        throwRunFailure(run);
    }
    loggerFrom(loggerFactory)->debug([&] {
        std::string command = "hdiutil";
        for (std::size_t index = 0; index < arguments.size(); ++index) {
            command += (index == 0 ? "" : " ") + arguments[index];
        }
        return dashes + "\nattempting to attach: '" + path + "'\nprocess '" + command + "' exited with code " +
               std::to_string(run.result().value()) + "\nstdout: " + utf8OrEmpty(run.stdout()) +
               "\nstderr: " + utf8OrEmpty(run.stderr()) + "\n" + dashes;
    });
    try {
        return parseAttachOutput(diskImageURL, run.stdout(), run.stderr(), loggerFactory);
    } catch (const DMGMounterError& error) {
        if (error.kind() == DMGMounterError::Case::otherError) {
            loggerFrom(loggerFactory)->debug([&] {
                return "Failed to attach " + diskImageURL.absoluteString() + ".\nhdiutil:\n" + error.hdiutilOutput();
            });
        }
        throw;
    }
}

std::shared_ptr<DMGMount> DMGMounter::parseAttachOutput(const URL& diskImageURL, const NSTask::Bytes& standardOutput,
                                                        const std::optional<NSTask::Bytes>& standardError,
                                                        const LoggerFactory& loggerFactory) {
    const std::string_view output(reinterpret_cast<const char*>(standardOutput.data()), standardOutput.size());
    // Whatever the tool printed before its property list (an agreement, an earlier list) is skipped.
    const auto start = output.rfind(plistHeader());
    if (start != std::string_view::npos) {
        coding::Value root;
        try {
            root = coding::fromPropertyList(output.substr(start));
        } catch (...) {
        }
        const auto* top = root.get<coding::Object>();
        const coding::Value* entitiesValue = top ? top->find("system-entities") : nullptr;
        if (const auto* entities = entitiesValue ? entitiesValue->get<coding::Array>() : nullptr) {
            return makeMount(diskImageURL, *entities, true, loggerFactory);
        }
    }
    throw DMGMounterError::otherError(otherErrorText(standardOutput, standardError));
}

} // namespace velmor
