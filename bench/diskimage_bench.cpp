// Compares attaching through the disk-image mounter with udisksctl, both under one private udisks2:
// cycles of attach, read one file, detach of a small ext4 image, through `DMGMounter` (and so the
// disk-image tool) against udisksctl's loop-setup, mount, unmount and loop-delete. Needs root and
// loop devices; the services are those of the tests' fixture.
#include "BestOf.hpp"

#include "foundation/core/log/EnvBasedOSLogLogger.hpp"
#include "foundation/services/diskimage/DMGMounter.hpp"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr int cycles = 20;
constexpr int rounds = 3;
const std::string expected = "hello from the image\n";

// Runs `command` through the shell and returns its standard output; a failure ends the run.
std::string output(const std::string& command) {
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) {
        throw std::runtime_error("cannot run: " + command);
    }
    std::string text;
    char buffer[4096];
    for (std::size_t read; (read = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) {
        text.append(buffer, read);
    }
    const int status = ::pclose(pipe);
    if (status == -1 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        throw std::runtime_error("failed: " + command + "\n" + text);
    }
    return text;
}

std::string readAll(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

void expectFile(const std::string& path) {
    if (readAll(path) != expected) {
        throw std::runtime_error("unexpected contents in " + path);
    }
}

// The word after `marker` in `text`, up to a blank, a full stop at the end, or the line's end.
std::string wordAfter(const std::string& text, const std::string& marker) {
    const auto start = text.find(marker);
    if (start == std::string::npos) {
        throw std::runtime_error("no '" + marker + "' in: " + text);
    }
    std::string word = text.substr(start + marker.size());
    word = word.substr(0, word.find_first_of(" \n"));
    if (!word.empty() && word.back() == '.') {
        word.pop_back();
    }
    return word;
}

void mounterCycles(const std::string& image) {
    const auto factory = velmor::EnvBasedOSLogLogger::factory();
    for (int cycle = 0; cycle < cycles; ++cycle) {
        const auto mount = velmor::DMGMounter::attach(velmor::URL::fileURL(image), std::nullopt, false, factory);
        const auto& partitions = mount->partitions();
        if (partitions.size() != 1 || !partitions[0].mountPoint()) {
            throw std::runtime_error("unexpected attach: " + mount->description());
        }
        expectFile(partitions[0].mountPoint()->path() + "/hello.txt");
        velmor::DMGMounter::detach(mount, false, false, factory);
    }
}

void udisksctlCycles(const std::string& image) {
    for (int cycle = 0; cycle < cycles; ++cycle) {
        const std::string device =
            wordAfter(output("udisksctl loop-setup --no-user-interaction -r -f '" + image + "'"), " as ");
        const std::string mountPoint =
            wordAfter(output("udisksctl mount --no-user-interaction -o ro -b " + device), " at ");
        expectFile(mountPoint + "/hello.txt");
        output("udisksctl unmount --no-user-interaction -b " + device + " >/dev/null");
        output("udisksctl loop-delete --no-user-interaction -b " + device);
    }
}

// The fixture's services, stopped when this goes.
class Services {
public:
    explicit Services(std::string state) : state_(std::move(state)) {
        output(std::string(VELMOR_UDISKS_SERVICES) + " start '" + state_ + "' >/dev/null");
    }
    ~Services() {
        try {
            output(std::string(VELMOR_UDISKS_SERVICES) + " stop '" + state_ + "'");
        } catch (const std::exception& error) {
            std::fprintf(stderr, "%s\n", error.what());
        }
    }
    std::string skipReason() const { return readAll(state_ + "/skip"); }
    std::string address() const {
        std::string text = readAll(state_ + "/address");
        return text.substr(0, text.find('\n'));
    }

private:
    std::string state_;
};

} // namespace

int main() {
    char folderPattern[] = "/tmp/velmor-diskimage-bench-XXXXXX";
    if (::mkdtemp(folderPattern) == nullptr) {
        std::perror("mkdtemp");
        return 1;
    }
    const std::string folder = folderPattern;
    int status = 0;
    try {
        Services services(folder + "/services");
        if (const std::string reason = services.skipReason(); !reason.empty()) {
            std::printf("skipped: %s", reason.c_str());
        } else {
            ::setenv("DBUS_SYSTEM_BUS_ADDRESS", services.address().c_str(), 1);
            output("mkdir -p '" + folder + "/content' && printf '" + expected.substr(0, expected.size() - 1) +
                   "\\n' > '" + folder + "/content/hello.txt'");
            const std::string image = folder + "/data.img";
            output("truncate -s 16M '" + image + "' && mkfs.ext4 -q -d '" + folder + "/content' '" + image + "'");
            const double ours = bench::bestSeconds(rounds, [&] { mounterCycles(image); });
            const double peer = bench::bestSeconds(rounds, [&] { udisksctlCycles(image); });
            std::printf("%d cycles of attach, read, detach of a 16 MB ext4 image\n", cycles);
            std::printf("DMGMounter: %.3f s\nudisksctl: %.3f s\n", ours, peer);
            std::printf("ratio DMGMounter / udisksctl: %.2f\n", ours / peer);
        }
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s\n", error.what());
        status = 1;
    }
    try {
        output("rm -rf '" + folder + "'");
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s\n", error.what());
    }
    return status;
}
