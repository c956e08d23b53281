#include "foundation/core/log/LoggingVersion.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <unistd.h>

namespace velmor {
namespace {

TEST(LoggingVersion, JoinsShortAndBuildVersionsWithNAForWhatIsMissing) {
    struct Case {
        std::optional<std::string> infoBody;
        std::string version;
    };
    const Case cases[] = {
        {"<key>CFBundleShortVersionString</key><string>1.2</string><key>CFBundleVersion</key><string>345</"
         "string>",
         "v1.2 (345)"},
        {"<key>CFBundleShortVersionString</key><string>1.2</string>", "v1.2 (N/A)"},
        {"<key>CFBundleShortVersionString</key><string>1.2</string><key>CFBundleVersion</key><integer>3</"
         "integer>",
         "v1.2 (N/A)"},
        {"", "vN/A (N/A)"},
        {std::nullopt, "vN/A (N/A)"},
    };
    for (const auto& c : cases) {
        char pattern[] = "/tmp/version-test-XXXXXX";
        std::string dir = ::mkdtemp(pattern);
        if (c.infoBody) {
            std::ofstream(dir + "/Info.plist")
                << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>" << *c.infoBody
                << "</dict></plist>\n";
        }
        EXPECT_EQ(loggingVersion(Bundle(URL::fileURL(dir))), c.version);
        std::filesystem::remove_all(dir);
    }
}

} // namespace
} // namespace velmor
