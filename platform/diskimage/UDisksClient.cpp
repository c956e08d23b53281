#include "platform/diskimage/UDisksClient.hpp"

#include <systemd/sd-bus.h>

#include <cerrno>
#include <cstring>

namespace velmor::diskimage {

namespace {

constexpr const char* service = "org.freedesktop.UDisks2";
constexpr const char* blockInterface = "org.freedesktop.UDisks2.Block";
constexpr const char* filesystemInterface = "org.freedesktop.UDisks2.Filesystem";
constexpr const char* loopInterface = "org.freedesktop.UDisks2.Loop";
constexpr const char* partitionInterface = "org.freedesktop.UDisks2.Partition";
constexpr const char* partitionTableInterface = "org.freedesktop.UDisks2.PartitionTable";

struct MessageRef {
    sd_bus_message* message = nullptr;
    ~MessageRef() { sd_bus_message_unref(message); }
};

struct ErrorRef {
    sd_bus_error error = SD_BUS_ERROR_NULL;
    ~ErrorRef() { sd_bus_error_free(&error); }
};

[[noreturn]] void failParsing(int result) {
    throw UDisksError("org.freedesktop.DBus.Error.InvalidArgs",
                      std::string("unexpected answer from the disk service: ") + std::strerror(-result));
}

void check(int result) {
    if (result < 0) {
        failParsing(result);
    }
}

// Byte-array paths end with a NUL that is not part of the path.
std::string readByteString(sd_bus_message* message) {
    const void* bytes = nullptr;
    std::size_t size = 0;
    check(sd_bus_message_read_array(message, 'y', &bytes, &size));
    std::string text(static_cast<const char*>(bytes), size);
    while (!text.empty() && text.back() == '\0') {
        text.pop_back();
    }
    return text;
}

void readProperty(sd_bus_message* message, const std::string& interface, const std::string& name, UDisksBlock& block) {
    auto enter = [&](const char* signature) { check(sd_bus_message_enter_container(message, 'v', signature)); };
    auto leave = [&] { check(sd_bus_message_exit_container(message)); };
    if (interface == blockInterface && name == "Device") {
        enter("ay");
        block.device = readByteString(message);
        leave();
    } else if (interface == blockInterface && name == "IdUsage") {
        enter("s");
        const char* text = nullptr;
        check(sd_bus_message_read(message, "s", &text));
        block.idUsage = text;
        leave();
    } else if (interface == blockInterface && name == "ReadOnly") {
        enter("b");
        int value = 0;
        check(sd_bus_message_read(message, "b", &value));
        block.readOnly = value != 0;
        leave();
    } else if (interface == filesystemInterface && name == "MountPoints") {
        enter("aay");
        check(sd_bus_message_enter_container(message, 'a', "ay"));
        while (sd_bus_message_at_end(message, false) == 0) {
            block.mountPoints.push_back(readByteString(message));
        }
        leave();
        leave();
    } else if (interface == loopInterface && name == "BackingFile") {
        enter("ay");
        block.backingFile = readByteString(message);
        leave();
    } else if (interface == partitionInterface && name == "Table") {
        enter("o");
        const char* path = nullptr;
        check(sd_bus_message_read(message, "o", &path));
        block.partitionTable = path;
        leave();
    } else if (interface == partitionInterface && name == "Number") {
        enter("u");
        check(sd_bus_message_read(message, "u", &block.partitionNumber));
        leave();
    } else {
        check(sd_bus_message_skip(message, "v"));
    }
}

void appendNoInteraction(sd_bus_message* message) {
    check(sd_bus_message_append(message, "{sv}", "auth.no_user_interaction", "b", 1));
}

} // namespace

UDisksClient::UDisksClient() {
    const int result = sd_bus_open_system(&bus_);
    if (result < 0) {
        throw UDisksError("org.freedesktop.DBus.Error.NoServer",
                          std::string("cannot reach the system bus: ") + std::strerror(-result));
    }
}

UDisksClient::~UDisksClient() {
    sd_bus_flush_close_unref(bus_);
}

namespace {

// Sends `call` and returns the reply, or throws the service's error.
sd_bus_message* send(sd_bus* bus, sd_bus_message* call) {
    ErrorRef error;
    sd_bus_message* reply = nullptr;
    // Mounting and probing can be slow on a busy machine; the service has its own limits.
    const int result = sd_bus_call(bus, call, 120'000'000, &error.error, &reply);
    if (result < 0) {
        throw UDisksError(error.error.name ? error.error.name : "org.freedesktop.DBus.Error.Failed",
                          error.error.message ? error.error.message : std::strerror(-result));
    }
    return reply;
}

sd_bus_message* newCall(sd_bus* bus, const std::string& path, const char* interface, const char* member) {
    sd_bus_message* call = nullptr;
    check(sd_bus_message_new_method_call(bus, &call, service, path.c_str(), interface, member));
    return call;
}

} // namespace

std::vector<UDisksBlock> UDisksClient::blocks() {
    MessageRef call{newCall(bus_, "/org/freedesktop/UDisks2", "org.freedesktop.DBus.ObjectManager",
                            "GetManagedObjects")};
    MessageRef reply{send(bus_, call.message)};
    sd_bus_message* message = reply.message;
    std::vector<UDisksBlock> blocks;
    check(sd_bus_message_enter_container(message, 'a', "{oa{sa{sv}}}"));
    while (sd_bus_message_enter_container(message, 'e', "oa{sa{sv}}") > 0) {
        UDisksBlock block;
        const char* path = nullptr;
        check(sd_bus_message_read(message, "o", &path));
        block.objectPath = path;
        bool isBlock = false;
        check(sd_bus_message_enter_container(message, 'a', "{sa{sv}}"));
        while (sd_bus_message_enter_container(message, 'e', "sa{sv}") > 0) {
            const char* name = nullptr;
            check(sd_bus_message_read(message, "s", &name));
            const std::string interface = name;
            isBlock = isBlock || interface == blockInterface;
            block.hasFilesystem = block.hasFilesystem || interface == filesystemInterface;
            block.isLoop = block.isLoop || interface == loopInterface;
            block.hasPartitionTable = block.hasPartitionTable || interface == partitionTableInterface;
            check(sd_bus_message_enter_container(message, 'a', "{sv}"));
            while (sd_bus_message_enter_container(message, 'e', "sv") > 0) {
                const char* property = nullptr;
                check(sd_bus_message_read(message, "s", &property));
                readProperty(message, interface, property, block);
                check(sd_bus_message_exit_container(message));
            }
            check(sd_bus_message_exit_container(message));
            check(sd_bus_message_exit_container(message));
        }
        check(sd_bus_message_exit_container(message));
        check(sd_bus_message_exit_container(message));
        if (isBlock) {
            blocks.push_back(std::move(block));
        }
    }
    check(sd_bus_message_exit_container(message));
    return blocks;
}

bool UDisksError::isLoopDeviceTaken() const {
    const std::string message = what();
    // The kernel says the device is bound already, or that it is being changed by another caller
    // at that moment.
    return message.find("Failed to associate") != std::string::npos &&
           (message.find(std::strerror(EBUSY)) != std::string::npos ||
            message.find(std::strerror(EAGAIN)) != std::string::npos);
}

bool UDisksError::isMountPointTaken() const {
    const std::string message = what();
    return message.find("Error creating mount point") != std::string::npos &&
           message.find(std::strerror(EEXIST)) != std::string::npos;
}

std::string UDisksClient::loopSetup(int descriptor) {
    MessageRef call{newCall(bus_, "/org/freedesktop/UDisks2/Manager", "org.freedesktop.UDisks2.Manager", "LoopSetup")};
    check(sd_bus_message_append(call.message, "h", descriptor));
    check(sd_bus_message_open_container(call.message, 'a', "{sv}"));
    check(sd_bus_message_append(call.message, "{sv}", "read-only", "b", 1));
    appendNoInteraction(call.message);
    check(sd_bus_message_close_container(call.message));
    MessageRef reply{send(bus_, call.message)};
    const char* path = nullptr;
    check(sd_bus_message_read(reply.message, "o", &path));
    return path;
}

std::string UDisksClient::mount(const std::string& objectPath) {
    MessageRef call{newCall(bus_, objectPath, filesystemInterface, "Mount")};
    check(sd_bus_message_open_container(call.message, 'a', "{sv}"));
    check(sd_bus_message_append(call.message, "{sv}", "options", "s", "ro"));
    appendNoInteraction(call.message);
    check(sd_bus_message_close_container(call.message));
    MessageRef reply{send(bus_, call.message)};
    const char* mountPoint = nullptr;
    check(sd_bus_message_read(reply.message, "s", &mountPoint));
    return mountPoint;
}

void UDisksClient::unmount(const std::string& objectPath, bool force) {
    MessageRef call{newCall(bus_, objectPath, filesystemInterface, "Unmount")};
    check(sd_bus_message_open_container(call.message, 'a', "{sv}"));
    check(sd_bus_message_append(call.message, "{sv}", "force", "b", force ? 1 : 0));
    appendNoInteraction(call.message);
    check(sd_bus_message_close_container(call.message));
    MessageRef reply{send(bus_, call.message)};
}

void UDisksClient::loopDelete(const std::string& objectPath) {
    MessageRef call{newCall(bus_, objectPath, loopInterface, "Delete")};
    check(sd_bus_message_open_container(call.message, 'a', "{sv}"));
    appendNoInteraction(call.message);
    check(sd_bus_message_close_container(call.message));
    MessageRef reply{send(bus_, call.message)};
}

} // namespace velmor::diskimage
