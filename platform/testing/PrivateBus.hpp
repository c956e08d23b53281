#pragma once

#include "platform/testing/TemporaryDirectory.hpp"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace velmor::testing {

// A dbus-daemon of the test's own, listening in a temporary folder, stopped when the object goes.
// `address()` is empty, and `failure()` says why, when it could not be started.
class PrivateBus {
public:
    PrivateBus() {
        folder_.writeFile(
            "bus.conf", "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\" "
                        "\"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
                        "<busconfig><type>session</type><listen>unix:path=" +
                            folder_ / "socket" +
                            "</listen><auth>EXTERNAL</auth><policy context=\"default\">"
                            "<allow send_destination=\"*\" eavesdrop=\"true\"/><allow eavesdrop=\"true\"/>"
                            "<allow own=\"*\"/><allow user=\"*\"/></policy></busconfig>\n");
        int out[2];
        if (::pipe2(out, O_CLOEXEC) != 0) {
            failure_ = "no pipe for dbus-daemon";
            return;
        }
        const std::string config = "--config-file=" + folder_ / "bus.conf";
        const char* argv[] = {"dbus-daemon", config.c_str(),      "--nofork",
                              "--nopidfile", "--print-address=1", nullptr};
        posix_spawn_file_actions_t actions;
        ::posix_spawn_file_actions_init(&actions);
        ::posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        const int spawned =
            ::posix_spawnp(&daemon_, "dbus-daemon", &actions, nullptr, const_cast<char**>(argv), environ);
        ::posix_spawn_file_actions_destroy(&actions);
        ::close(out[1]);
        if (spawned != 0) {
            ::close(out[0]);
            daemon_ = -1;
            failure_ = "dbus-daemon could not be started (is the dbus-daemon package installed?)";
            return;
        }
        // The daemon prints its address once it listens.
        std::string line;
        struct pollfd ready {
            out[0], POLLIN, 0
        };
        char byte = 0;
        while (line.find('\n') == std::string::npos && ::poll(&ready, 1, 10'000) == 1 &&
               ::read(out[0], &byte, 1) == 1) {
            line += byte;
        }
        ::close(out[0]);
        if (line.empty() || line.back() != '\n') {
            failure_ = "dbus-daemon printed no address";
            return;
        }
        line.pop_back();
        address_ = line;
    }
    ~PrivateBus() {
        if (daemon_ > 0) {
            ::kill(daemon_, SIGTERM);
            ::waitpid(daemon_, nullptr, 0);
        }
    }
    PrivateBus(const PrivateBus&) = delete;
    PrivateBus& operator=(const PrivateBus&) = delete;

    const std::string& address() const { return address_; }
    const std::string& failure() const { return failure_; }

private:
    TemporaryDirectory folder_;
    pid_t daemon_ = -1;
    std::string address_;
    std::string failure_;
};

} // namespace velmor::testing
