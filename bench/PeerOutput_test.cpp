#include "bench/PeerOutput.hpp"

#include "platform/testing/TemporaryDirectory.hpp"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace bench {
namespace {

// The files a shell command names for output: the targets of its redirections and of rmlint's
// "-o format:file" specifications.
std::vector<std::string> outputFiles(const std::string& command) {
    std::istringstream words(command);
    std::vector<std::string> files;
    std::string word;
    while (words >> word) {
        if (word == "-o" || word == ">" || word == ">>") {
            std::string target;
            words >> target;
            if (word == "-o") {
                const auto colon = target.find(':');
                if (colon == std::string::npos) {
                    continue;
                }
                target = target.substr(colon + 1);
            }
            files.push_back(target);
        } else if (word.front() == '>') {
            files.push_back(word.substr(word.find_first_not_of('>')));
        }
    }
    return files;
}

bool insideFolder(const std::string& path, const std::string& folder) {
    return path.size() > folder.size() && path.compare(0, folder.size() + 1, folder + "/") == 0;
}

// rmlint is named no output file but its standard output, and that goes to a file of the
// benchmark's own: run as root, rmlint replaces an output file it is named, a device included.
TEST(PeerOutput, TheRmlintRunWritesOnlyIntoTheBenchmarksOwnFolder) {
    velmor::testing::TemporaryDirectory tree;
    tree.writeFile("one/copy", "copy");
    tree.writeFile("two/copy", "copy");
    std::string summary;
    {
        const PeerOutput output;
        const std::string command = rmlintCommand(tree.path(), output);
        const std::vector<std::string> files = outputFiles(command);
        ASSERT_FALSE(files.empty()) << command;
        for (const std::string& file : files) {
            // Checked before anything runs: the command is run below only when it is safe.
            ASSERT_TRUE(insideFolder(file, output.folder())) << file << " in " << command;
        }
        if (!onPath("rmlint")) {
            GTEST_SKIP() << "rmlint is not installed (scripts/bench.sh installs it)";
        }
        ASSERT_EQ(std::system(command.c_str()), 0) << command;
        std::ifstream read(output.file("rmlint-summary"));
        summary.assign(std::istreambuf_iterator<char>(read), {});
    }
    EXPECT_NE(summary.find("1 are duplicates in 1 groups"), std::string::npos) << summary;
    struct ::stat null {};
    ASSERT_EQ(::stat("/dev/null", &null), 0);
    EXPECT_TRUE(S_ISCHR(null.st_mode));
}

} // namespace
} // namespace bench
