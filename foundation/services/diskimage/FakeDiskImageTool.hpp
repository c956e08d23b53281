#pragma once

#include "foundation/services/diskimage/DiskImageTool.hpp"
#include "platform/testing/ScopedEnvironment.hpp"
#include "platform/testing/TemporaryDirectory.hpp"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <utility>
#include <vector>

namespace velmor::testing {

// A stand-in for the disk-image tool, put in place through its environment variable for the life
// of the object: it appends its arguments to "calls", keeps its standard input in "input", removes
// the files named in "remove" (a detach), prints "out-VERB" when there is one for its first argument,
// else "out", copies "err" to its standard error, and exits with the status in "status"; with "hang" (or "hang-VERB") it starts a child
// of its own and waits, recording both process ids in "pid" and "child" and adding them to "hung".
class FakeDiskImageTool {
public:
    FakeDiskImageTool()
        : environment_(ScopedEnvironment::Settings{{DiskImageTool::environmentVariable, script()}}) {
        set("tool", "#!/bin/sh\n"
                    "d='" + folder_.path() + "'\n"
                    "echo \"$*\" >> \"$d/calls\"\n"
                    "cat > \"$d/input\"\n"
                    "[ -f \"$d/remove\" ] && xargs rm -f < \"$d/remove\"\n"
                    "if [ -f \"$d/hang\" ] || [ -f \"$d/hang-$1\" ]; then sleep 60 & echo $! > \"$d/child\";"
                    " echo $$ > \"$d/pid\"; echo \"$$ $!\" >> \"$d/hung\"; wait; fi\n"
                    "if [ -f \"$d/out-$1\" ]; then cat \"$d/out-$1\"; elif [ -f \"$d/out\" ]; then cat \"$d/out\"; fi\n"
                    "[ -f \"$d/err\" ] && cat \"$d/err\" >&2\n"
                    "exit $(cat \"$d/status\" 2>/dev/null || echo 0)\n");
        ::chmod(script().c_str(), 0755);
    }

    std::string path(const std::string& name) const { return folder_.path() + "/" + name; }
    // The argument lists of the runs so far, one line each.
    std::vector<std::string> calls() const {
        std::vector<std::string> lines;
        std::istringstream stream(read("calls"));
        for (std::string line; std::getline(stream, line);) {
            lines.push_back(line);
        }
        return lines;
    }
    // The standard input of the last run.
    std::string input() const { return read("input"); }
    // After a run that hung: the tool was reaped and the child it started is gone too (or a zombie
    // that is no longer ours to reap). Waits a few seconds at most for the child.
    bool hungRunIsGone() const { return isGone(std::stoi(read("pid")), std::stoi(read("child"))); }
    // Every run that hung so far, in order, as the process ids of the tool and of its child.
    std::vector<std::pair<pid_t, pid_t>> hungRuns() const {
        std::vector<std::pair<pid_t, pid_t>> runs;
        std::istringstream stream(read("hung"));
        for (pid_t pid = 0, child = 0; stream >> pid >> child;) {
            runs.emplace_back(pid, child);
        }
        return runs;
    }
    // Whether the tool `pid` was reaped and its child `child` is gone too (or a zombie that is no
    // longer ours to reap). Waits a few seconds at most for the child.
    static bool isGone(pid_t pid, pid_t child) {
        if (::kill(pid, 0) == 0 || errno != ESRCH) {
            return false;
        }
        for (int tries = 0; tries < 500; ++tries) {
            std::ifstream in("/proc/" + std::to_string(child) + "/stat");
            std::string stat;
            if (!std::getline(in, stat) || stat.find(") Z ") != std::string::npos) {
                return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }
    void set(const std::string& name, const std::string& text) const { std::ofstream(path(name)) << text; }
    // A device entry that stays present while its file exists.
    std::string device(const std::string& name) const {
        set(name, "");
        return path(name);
    }

private:
    std::string script() const { return path("tool"); }
    std::string read(const std::string& name) const {
        std::ifstream in(path(name));
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

    TemporaryDirectory folder_;
    ScopedEnvironment environment_;
};

} // namespace velmor::testing
