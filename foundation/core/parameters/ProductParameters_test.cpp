#include "foundation/core/parameters/ProductParameters.hpp"

#include "foundation/core/log/RecordingLogger.hpp"
#include "platform/testing/HostileFiles.hpp"
#include "platform/testing/InfoPlist.hpp"
#include "platform/testing/ScopedEnvironment.hpp"
#include "platform/testing/TemporaryDirectory.hpp"
#include "platform/testing/Watchdog.hpp"

#include <gtest/gtest.h>

#include <filesystem>

namespace velmor {
namespace {

// A product's settings: the batch size is required, the mode optional; an override replaces the batch
// size and, when it gives one, the mode.
struct Tuning {
    int batchSize = 0;
    std::optional<std::string> mode;

    void apply(const Tuning& overrides) {
        batchSize = overrides.batchSize;
        if (overrides.mode) {
            mode = overrides.mode;
        }
    }
    friend bool operator==(const Tuning&, const Tuning&) = default;
};

} // namespace
} // namespace velmor

template <> struct velmor::coding::Coding<velmor::Tuning> {
    static velmor::Tuning decode(const Decoder& decoder) {
        return {decoder.decode<int>("batchSize"), decoder.decodeIfPresent<std::string>("mode")};
    }
};

namespace velmor {
namespace {

using velmor::testing::infoPlistText;
using velmor::testing::RecordingLogger;
using velmor::testing::TemporaryDirectory;

std::string tuning(int batchSize, const std::string& mode) {
    return infoPlistText("<key>batchSize</key><integer>" + std::to_string(batchSize) +
                         "</integer><key>mode</key><string>" + mode + "</string>");
}

class ProductParametersTest : public ::testing::Test {
protected:
    ProductParametersTest() {
        velmor::testing::writeInfoPlist(bundleDir_,
                                        "<key>CFBundleIdentifier</key><string>com.example.product</string>");
        bundleDir_.writeFile("Resources/parameters.plist", tuning(10, "base"));
    }

    std::optional<Tuning> load(const std::optional<std::string>& name, bool overridable) {
        return loadProductParameters<Tuning>(Bundle(URL::fileURL(bundleDir_.path())), name, overridable,
                                             logger_);
    }
    std::string userFile(const std::string& name = "parameters.plist") const {
        return "Velmor/com.example.product/" + name;
    }

    TemporaryDirectory bundleDir_;
    TemporaryDirectory config_;
    velmor::testing::ScopedEnvironment environment_{{{"XDG_CONFIG_HOME", config_.path()}}};
    RecordingLogger logger_;
};

TEST_F(ProductParametersTest, ReadsTheResourceNamedByTheGivenName) {
    EXPECT_EQ(load(std::nullopt, false), (Tuning{10, "base"}));
    EXPECT_EQ(load("beta", false), std::nullopt) << "only parameters.plist exists";

    bundleDir_.writeFile("Resources/parameters-beta.plist", tuning(20, "beta"));
    bundleDir_.writeFile("Resources/parameters-.plist", tuning(30, "empty name"));
    EXPECT_EQ(load("beta", false), (Tuning{20, "beta"}));
    EXPECT_EQ(load("", false), (Tuning{30, "empty name"}));
    EXPECT_EQ(logger_.lines(), std::vector<std::string>{});
}

TEST_F(ProductParametersTest, AnUnusableBaseFileGivesNothingAndOneErrorLine) {
    for (const std::string& contents : {std::string("<plist><dict><key>batchSize</key>"),
                                        infoPlistText("<key>mode</key><string>no batch size</string>")}) {
        RecordingLogger logger;
        bundleDir_.writeFile("Resources/parameters.plist", contents);
        auto loaded = loadProductParameters<Tuning>(Bundle(URL::fileURL(bundleDir_.path())), std::nullopt,
                                                    true, logger);
        EXPECT_EQ(loaded, std::nullopt);
        ASSERT_EQ(logger.lines().size(), 1u);
        const std::string prefix =
            "error: Cannot load parameters for bundle NSBundle <" + bundleDir_.path() + ">: ";
        EXPECT_EQ(logger.lines()[0].rfind(prefix, 0), 0u) << logger.lines()[0];
        EXPECT_GT(logger.lines()[0].size(), prefix.size()) << "the error follows";
    }
}

TEST_F(ProductParametersTest, AHostileUserFileLeavesTheBaseAndAHostileBaseGivesNothing) {
    velmor::testing::Watchdog watchdog("parameters from hostile files", 60);
    std::filesystem::create_directories(config_ / "Velmor/com.example.product");
    for (const auto& hostile :
         velmor::testing::hostileFiles(4 << 20, "<key>batchSize</key><integer>99</integer>")) {
        SCOPED_TRACE(hostile.what);
        hostile.plant(config_ / userFile());
        EXPECT_EQ(load(std::nullopt, true), (Tuning{10, "base"}));
        hostile.plant(bundleDir_ / "Resources/parameters-hostile.plist");
        EXPECT_EQ(load("hostile", false), std::nullopt);
    }
}

TEST_F(ProductParametersTest, MergesTheUsersOverridesWhenAsked) {
    const std::string folder = "<folder>"; // a folder where the user file should be
    struct Case {
        const char* name;
        std::optional<std::string> userFile;
        bool overridable;
        Tuning expected;
        bool logsOverrideError;
    };
    const Case cases[] = {
        {"no user file", std::nullopt, true, {10, "base"}, false},
        {"overrides not asked for", tuning(99, "user"), false, {10, "base"}, false},
        {"full override", tuning(99, "user"), true, {99, "user"}, false},
        {"partial override the type accepts",
         infoPlistText("<key>batchSize</key><integer>5</integer>"),
         true,
         {5, "base"},
         false},
        {"override the type does not accept",
         infoPlistText("<key>mode</key><string>user</string>"),
         true,
         {10, "base"},
         true},
        {"override that is no property list", std::string("garbage"), true, {10, "base"}, true},
        {"unreadable user file", folder, true, {10, "base"}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TemporaryDirectory config;
        velmor::testing::ScopedEnvironment environment({{"XDG_CONFIG_HOME", config.path()}});
        if (c.userFile == folder) {
            config.makeDirectory(userFile());
        } else if (c.userFile) {
            config.writeFile(userFile(), *c.userFile);
        }
        RecordingLogger logger;
        auto loaded = loadProductParameters<Tuning>(Bundle(URL::fileURL(bundleDir_.path())), std::nullopt,
                                                    c.overridable, logger);
        EXPECT_EQ(loaded, c.expected);
        const auto lines = logger.lines();
        ASSERT_EQ(lines.size(), c.logsOverrideError ? 1u : 0u);
        if (c.logsOverrideError) {
            const std::string prefix = "error: Cannot load parameters overrides from " +
                                       URL::fileURL(config / userFile()).absoluteString() + ": ";
            EXPECT_EQ(lines[0].rfind(prefix, 0), 0u) << lines[0];
        }
    }
}

TEST_F(ProductParametersTest, TheUserFileIsNamedAfterTheResourceAndTheBundleIdentifier) {
    config_.writeFile(userFile("parameters-beta.plist"), tuning(42, "beta override"));
    bundleDir_.writeFile("Resources/parameters-beta.plist", tuning(20, "beta"));
    EXPECT_EQ(load("beta", true), (Tuning{42, "beta override"}));
    EXPECT_EQ(load(std::nullopt, true), (Tuning{10, "base"}));

    // Without a usable identifier there is no user folder to look in, and an identifier is never
    // followed out of the Velmor folder.
    config_.writeFile("escaped/parameters-beta.plist", tuning(66, "outside"));
    for (const std::string& info :
         {std::string(""), std::string("<key>CFBundleIdentifier</key><string>../escaped</string>"),
          std::string("<key>CFBundleIdentifier</key><string>..</string>")}) {
        velmor::testing::writeInfoPlist(bundleDir_, info);
        EXPECT_EQ(load("beta", true), (Tuning{20, "beta"})) << info;
    }
}

} // namespace
} // namespace velmor
