#pragma once

#include <stdexcept>
#include <string>
#include <vector>

namespace velmor::diskimage {

// A command line of `velmor-diskimage`, which speaks the command lines of both disk-image tools the
// library drives:
//   attach -plist [-noverify -noautoopen -noautofsck -owners off -nobrowse -readonly
//          -mountrandom DIR] [-stdinpass] PATH
//   info -plist
//   detach TARGET [-force]          unmount TARGET [-force]
//   image --plist [--stdinpassphrase] attach --readOnly --nobrowse PATH
//   eject NAME|MOUNTPOINT
// Options without a meaning here are accepted and ignored: every volume is mounted read-only where
// the disk service puts it.
struct DiskImageCommand {
    enum class Verb { attach, info, detach, unmount, eject };

    Verb verb = Verb::info;
    bool plist = false;
    // The password is read from standard input (attach only).
    bool readsPassword = false;
    bool force = false;
    // The image path (attach) or the target (detach, unmount, eject).
    std::string operand;

    // Throws `UsageError` naming what is wrong.
    static DiskImageCommand parse(const std::vector<std::string>& arguments);
};

class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

} // namespace velmor::diskimage
