#include "foundation/core/log/LoggingVersion.hpp"

#include "platform/testing/InfoPlist.hpp"

#include <gtest/gtest.h>

#include <optional>

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
        velmor::testing::TemporaryDirectory dir;
        if (c.infoBody) {
            velmor::testing::writeInfoPlist(dir, *c.infoBody);
        }
        EXPECT_EQ(loggingVersion(Bundle(URL::fileURL(dir.path()))), c.version);
    }
}

} // namespace
} // namespace velmor
