#include "foundation/services/diskimage/ASIFMounter.hpp"

#include "foundation/core/log/EnvBasedOSLogLogger.hpp"
#include "foundation/services/diskimage/ASIFEjectRetrier.hpp"
#include "foundation/services/diskimage/DMGMounter.hpp"
#include "foundation/services/diskimage/DMGMounterError.hpp"
#include "foundation/services/diskimage/DiskImageTool.hpp"
#include "platform/coding/Decoding.hpp"
#include "platform/coding/PropertyList.hpp"
#include "platform/diskimage/BlockDevices.hpp"
#include "platform/diskimage/PathText.hpp"

#include <map>
#include <string_view>
#include <vector>

namespace velmor {

namespace {

// One value of an entity in the attach output: its text when it is a string, else nothing.
struct PlistOutputValue {
    std::optional<std::string> string;
};

} // namespace

namespace coding {

template <> struct Coding<PlistOutputValue> {
    static PlistOutputValue decode(const Decoder& decoder) {
        try {
            return {decoder.as<std::string>()};
        } catch (const DecodingError& error) {
            if (error.kind() != DecodingError::Kind::typeMismatch) {
                throw;
            }
            return {};
        }
    }
};

} // namespace coding

namespace {

using Entity = std::map<std::string, PlistOutputValue>;

// Every top-level member must be an array of dictionaries; the decoder's error says which is not.
std::map<std::string, std::vector<Entity>> decodeAttachOutput(const coding::Value& root) {
    const coding::Decoder top(root);
    std::map<std::string, std::vector<Entity>> output;
    for (const auto& member : top.object()) {
        std::vector<Entity>& entities = output[member.first];
        for (const coding::Decoder& element : top[member.first].elements()) {
            Entity& entity = entities.emplace_back();
            for (const auto& field : element.object()) {
                entity[field.first] = element[field.first].as<PlistOutputValue>();
            }
        }
    }
    return output;
}

const std::string* stringAt(const Entity& entity, const std::string& key) {
    const auto found = entity.find(key);
    return found != entity.end() && found->second.string ? &*found->second.string : nullptr;
}

NSTask::SynchronousRunResult runTool(const std::vector<std::string>& arguments, std::optional<NSTask::Bytes> input) {
    return NSTask::run(DiskImageTool::path(), arguments, std::move(input), DMGMounter::toolTimeout());
}

// " The tool said: " and its standard error, and its exit status when not 0; empty when neither.
std::string toolReason(const NSTask::SynchronousRunResult& run) {
    std::string said = utf8OrEmpty(run.stderr());
    while (!said.empty() && (said.back() == '\n' || said.back() == ' ')) {
        said.pop_back();
    }
    const std::int32_t status = run.result().value();
    std::string reason;
    if (!said.empty()) {
        reason = " The tool said: " + said;
    }
    if (status != 0) {
        reason += (reason.empty() ? " The tool" : ";") + std::string(" exited with status ") + std::to_string(status);
    }
    return reason.empty() ? reason : reason + ".";
}

void ejectPartition(const DMGPartition& partition, bool retryForever, const LoggerFactory& loggerFactory) {
    std::string target;
    if (partition.wholeDiskDevEntry()) {
        target = *partition.wholeDiskDevEntry();
    } else if (partition.mountPoint()) {
        target = partition.mountPoint()->path();
    } else {
        throw DMGMounterError::noPartitionsAvailable();
    }
    // Ejected already; its whole disk may hold another image by now, which must stay.
    if (!partition.isPresent()) {
        return;
    }
    const auto run = runTool({"eject", target}, std::nullopt);
    // A status of 0 is believed only once the device is gone.
    if (run.result().isSuccess() && run.result().value() == 0 && !partition.isPresent()) {
        return;
    }
    if (!run.result().isSuccess() && isTimeout(run.result().error())) {
        killTimedOutTool(run);
    }
    if (!retryForever) {
        throw DMGMounterError::failedToDetach();
    }
    ASIFEjectRetrier::shared()->retryEvery60Seconds(
        partition, [partition, loggerFactory] { ejectPartition(partition, false, loggerFactory); });
}

} // namespace

std::shared_ptr<DMGMount> ASIFMounter::attach(const URL& url, const std::optional<std::string>& password,
                                              bool autoDetachOnDealloc, LoggerFactory loggerFactory) {
    std::vector<std::string> arguments{"image", "--plist"};
    NSTask::Bytes input;
    if (password) {
        arguments.push_back("--stdinpassphrase");
        input.assign(password->begin(), password->end());
        input.push_back(0x00);
        input.push_back(0x0A);
    }
    arguments.insert(arguments.end(), {"attach", "--readOnly", "--nobrowse", url.path()});

    const auto run = runTool(arguments, std::move(input));
    if (!run.result().isSuccess()) {
        throwRunFailure(run);
    }

    const auto& out = run.stdout();
    std::map<std::string, std::vector<Entity>> output;
    try {
        output = decodeAttachOutput(
            coding::fromPropertyList(std::string_view(reinterpret_cast<const char*>(out.data()), out.size())));
    } catch (const coding::DecodingError& error) {
        // A tool that failed prints its reason instead of a property list: keep it with the error.
        throw coding::DecodingError(error.kind(), error.codingPath(),
                                    error.debugDescription() + toolReason(run));
    }
    const auto found = output.find("system-entities");
    if (found == output.end()) {
        throw DMGMounterError::otherError("Unrecognized output format: " + utf8OrEmpty(out));
    }
    std::vector<const Entity*> withMountPoint;
    for (const Entity& entity : found->second) {
        if (!entity.empty() && entity.contains("mount-point")) {
            withMountPoint.push_back(&entity);
        }
    }
    if (withMountPoint.empty()) {
        throw DMGMounterError::noPartitionsAvailable();
    }

    auto mount = std::make_shared<DMGMount>(EnvBasedOSLogLogger::factory());
    mount->setDiskImageURL(url);
    mount->setInternalDiskImageURL(url);
    const BlockDevices devices;
    for (const Entity* entity : withMountPoint) {
        const std::string* devEntry = stringAt(*entity, "dev-entry");
        // Written as a file URL text when XML cannot hold it.
        const std::string* mountPointText = stringAt(*entity, "mount-point");
        const auto mountPoint = mountPointText ? pathFromText(*mountPointText) : std::nullopt;
        if (devEntry == nullptr || !mountPoint) {
            continue;
        }
        mount->appendPartition(
            DMGPartition::recordingAttachSequence(URL::fileURL(*mountPoint), *devEntry, devices.wholeDiskName(*devEntry)));
    }
    if (autoDetachOnDealloc) {
        mount->setDeinitDetachBlock(
            [loggerFactory = std::move(loggerFactory)](DMGMount& released) { detach(released, true, loggerFactory); });
    }
    return mount;
}

void ASIFMounter::detach(const DMGMount& mount, bool retryForever, const LoggerFactory& loggerFactory) {
    if (mount.partitions().empty()) {
        throw DMGMounterError::noPartitionsAvailable();
    }
    ejectPartition(mount.partitions().front(), retryForever, loggerFactory);
}

} // namespace velmor
