#include "platform/bundle/Bundle.hpp"
#include "platform/bundle/PreferredLanguages.hpp"

#include "platform/testing/HostileFiles.hpp"
#include "platform/testing/InfoPlist.hpp"
#include "platform/testing/PrivilegeDrop.hpp"
#include "platform/testing/Watchdog.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sys/stat.h>
#include <unistd.h>

namespace velmor {
namespace {

using velmor::testing::writeInfoPlist;

TEST(Bundle, ReadsItsInformationDictionary) {
    velmor::testing::TemporaryDirectory dir;
    writeInfoPlist(dir, ("<key>CFBundleIdentifier</key><string>com.example.app</string>"
                         "<key>CFBundleVersion</key><integer>42</integer>"
                         "<key>LSUIElement</key><true/>"
                         "<key>Nested</key><array><string>a</string></array>"));
    Bundle bundle(URL::fileURL(dir.path()));
    ASSERT_NE(bundle.infoDictionary(), nullptr);
    EXPECT_EQ(bundle.bundleIdentifier(), "com.example.app");
    ASSERT_NE(bundle.objectForInfoDictionaryKey("CFBundleVersion"), nullptr);
    EXPECT_EQ(*bundle.objectForInfoDictionaryKey("CFBundleVersion"), coding::Value(42));
    EXPECT_EQ(*bundle.objectForInfoDictionaryKey("LSUIElement"), coding::Value(true));
    EXPECT_EQ(*bundle.objectForInfoDictionaryKey("Nested"), coding::Value(coding::Array{"a"}));
    EXPECT_EQ(bundle.objectForInfoDictionaryKey("Missing"), nullptr);
}

TEST(Bundle, HasNoIdentifierWithoutAUsableInformationDictionary) {
    struct Case {
        const char* name;
        std::optional<std::string> infoPlist;
        bool hasDictionary;
    };
    const Case cases[] = {
        {"no Info.plist", std::nullopt, false},
        {"not a property list", "garbage", false},
        {"top level is an array", "<plist version=\"1.0\"><array/></plist>", false},
        {"identifier is no string",
         velmor::testing::infoPlistText("<key>CFBundleIdentifier</key><integer>1</integer>"), true},
        {"identifier missing", velmor::testing::infoPlistText("<key>Other</key><string>x</string>"), true},
    };
    for (const auto& c : cases) {
        velmor::testing::TemporaryDirectory dir;
        if (c.infoPlist) {
            dir.writeFile("Info.plist", *c.infoPlist);
        }
        Bundle bundle(URL::fileURL(dir.path()));
        EXPECT_EQ(bundle.infoDictionary() != nullptr, c.hasDictionary) << c.name;
        EXPECT_EQ(bundle.bundleIdentifier(), std::nullopt) << c.name;
    }
}

// An information dictionary that names the bundle `identifier`.
std::string identifiedAs(const std::string& identifier) {
    return velmor::testing::infoPlistText("<key>CFBundleIdentifier</key><string>" + identifier + "</string>");
}

TEST(Bundle, PrefersAContentsFolderAndReadsOnlySmallRegularFiles) {
    const std::string top = identifiedAs("top");
    const std::string contents = identifiedAs("contents");
    struct Case {
        const char* name;
        std::function<void(const velmor::testing::TemporaryDirectory&)> make;
        std::optional<std::string> identifier;
    };
    const Case cases[] = {
        {"top only", [&](const auto& dir) { dir.writeFile("Info.plist", top); }, "top"},
        {"Contents and top",
         [&](const auto& dir) {
             dir.writeFile("Info.plist", top);
             dir.writeFile("Contents/Info.plist", contents);
         },
         "contents"},
        {"Contents is a file",
         [&](const auto& dir) {
             dir.writeFile("Contents", "x");
             dir.writeFile("Info.plist", top);
         },
         "top"},
        // A pipe would block a plain read for good: it is no information dictionary.
        {"Info.plist is a pipe",
         [](const auto& dir) { ASSERT_EQ(::mkfifo((dir / "Info.plist").c_str(), 0600), 0); }, std::nullopt},
        {"Contents/Info.plist is a pipe",
         [&](const auto& dir) {
             dir.writeFile("Info.plist", top);
             dir.makeDirectory("Contents");
             ASSERT_EQ(::mkfifo((dir / "Contents/Info.plist").c_str(), 0600), 0);
         },
         std::nullopt},
        {"Info.plist is a folder", [](const auto& dir) { dir.makeDirectory("Info.plist"); }, std::nullopt},
        // A link would lend the bundle the identity of whatever it points to.
        {"Info.plist is a link",
         [&](const auto& dir) {
             const std::string other = dir.writeFile("other.plist", top);
             std::filesystem::create_symlink(other, dir / "Info.plist");
         },
         std::nullopt},
        {"Contents/Info.plist is a link",
         [&](const auto& dir) {
             dir.writeFile("Info.plist", top);
             const std::string other = dir.writeFile("other.plist", contents);
             dir.makeDirectory("Contents");
             std::filesystem::create_symlink(other, dir / "Contents/Info.plist");
         },
         std::nullopt},
        // Nor may a folder on the way: the bundle would take the identity of the one linked to.
        {"Contents is a link into another bundle",
         [&](const auto& dir) {
             dir.writeFile("other.app/Contents/Info.plist", contents);
             std::filesystem::create_directory_symlink("other.app/Contents", dir / "Contents");
         },
         std::nullopt},
        {"Contents is a link and the top has its own",
         [&](const auto& dir) {
             dir.writeFile("Info.plist", top);
             dir.writeFile("other.app/Contents/Info.plist", contents);
             std::filesystem::create_directory_symlink("other.app/Contents", dir / "Contents");
         },
         "top"},
        {"over 1 MiB",
         [](const auto& dir) {
             dir.writeFile("Info.plist",
                           velmor::testing::infoPlistText(
                               "<key>CFBundleIdentifier</key><string>big</string><key>Pad</key><string>" +
                               std::string(1 << 20, 'x') + "</string>"));
         },
         std::nullopt},
    };
    for (const auto& c : cases) {
        velmor::testing::TemporaryDirectory dir;
        c.make(dir);
        Bundle bundle(URL::fileURL(dir.path()));
        EXPECT_EQ(bundle.bundleIdentifier(), c.identifier) << c.name;
    }
}

// The folders on the way to the information dictionary need only be searched, as for any path;
// a Contents folder that is there but may not be searched is no absent one, and the top's
// dictionary does not stand in for it. Judged as a user the folders' modes apply to.
TEST(Bundle, ReadsThroughFoldersItMaySearchAndTakesNoStandInForOnesItMayNot) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "needs root, to run the reads as another user";
    }
    const std::string top = identifiedAs("top");
    const std::string contents = identifiedAs("contents");
    struct Case {
        const char* name;
        mode_t bundleMode;
        mode_t contentsMode;
        std::optional<std::string> identifier;
    };
    const Case cases[] = {
        {"the bundle may be searched, not listed", 0711, 0755, "contents"},
        {"Contents may be searched, not listed", 0755, 0711, "contents"},
        {"Contents may not be searched", 0755, 0644, std::nullopt},
        {"Contents may be neither searched nor listed", 0755, 0, std::nullopt},
    };
    for (const auto& c : cases) {
        velmor::testing::TemporaryDirectory dir;
        const std::string bundle = dir.makeDirectory("Some.app");
        dir.writeFile("Some.app/Info.plist", top);
        dir.writeFile("Some.app/Contents/Info.plist", contents);
        ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
        ASSERT_EQ(::chmod((bundle + "/Contents").c_str(), c.contentsMode), 0);
        ASSERT_EQ(::chmod(bundle.c_str(), c.bundleMode), 0);
        const int result = velmor::testing::runAsUnprivilegedUser([&] {
            const std::optional<std::string> identifier = Bundle(URL::fileURL(bundle)).bundleIdentifier();
            if (identifier == c.identifier) {
                return 0;
            }
            std::fprintf(stderr, "%s: the identifier is %s\n", c.name,
                         identifier ? identifier->c_str() : "none");
            return 1;
        });
        EXPECT_EQ(result, 0) << c.name;
    }
}

TEST(Bundle, AHostileInformationDictionaryOrStringTableIsNone) {
    velmor::testing::Watchdog watchdog("bundles with hostile files", 60);
    for (const auto& hostile : velmor::testing::hostileFiles(
             1 << 20, "<key>CFBundleIdentifier</key><string>hostile</string><key>k</key><string>text</string>")) {
        velmor::testing::TemporaryDirectory dir;
        hostile.plant(dir / "Info.plist");
        dir.makeDirectory("Resources/en.lproj");
        hostile.plant(dir / "Resources/en.lproj/Localizable.strings");
        std::optional<Bundle> bundle;
        ASSERT_NO_THROW(bundle.emplace(URL::fileURL(dir.path()))) << hostile.what;
        EXPECT_EQ(bundle->infoDictionary(), nullptr) << hostile.what;
        EXPECT_EQ(bundle->localizedString("k"), "k") << hostile.what;
    }
}

TEST(Bundle, FindsResourcesByNameAndExtension) {
    velmor::testing::TemporaryDirectory dir;
    dir.writeFile("Resources/parameters-categories.plist", "x");
    dir.writeFile("Resources/README", "x");
    dir.makeDirectory("Resources/folder.plist");
    Bundle bundle(URL::fileURL(dir.path()));
    EXPECT_EQ(bundle.urlForResource("parameters-categories", "plist"),
              URL::fileURL(dir / "Resources/parameters-categories.plist"));
    EXPECT_EQ(bundle.urlForResource("README", ""), URL::fileURL(dir / "Resources/README"));
    EXPECT_EQ(bundle.urlForResource("parameters-categories", "json"), std::nullopt);
    EXPECT_EQ(bundle.urlForResource("folder", "plist"), std::nullopt);
}

TEST(Bundle, MainBundleIsTheExecutablesFolderUnlessTheEnvironmentNamesOne) {
    ::unsetenv(Bundle::mainBundleEnvironmentKey);
    char buffer[4096];
    ssize_t length = ::readlink("/proc/self/exe", buffer, sizeof buffer);
    ASSERT_GT(length, 0);
    std::filesystem::path executable(std::string(buffer, static_cast<std::size_t>(length)));
    EXPECT_EQ(Bundle::mainBundleURL().path(), executable.parent_path().string());

    ::setenv(Bundle::mainBundleEnvironmentKey, "", 1);
    EXPECT_EQ(Bundle::mainBundleURL().path(), executable.parent_path().string());
    ::setenv(Bundle::mainBundleEnvironmentKey, "/opt/Marrowdale", 1);
    EXPECT_EQ(Bundle::mainBundleURL().path(), "/opt/Marrowdale");
    ::unsetenv(Bundle::mainBundleEnvironmentKey);
}

// Sets the locale variables for one case and puts back what was there.
class LocaleEnvironment {
public:
    explicit LocaleEnvironment(std::map<std::string, std::string> values) {
        for (const char* name : names) {
            if (const char* old = std::getenv(name)) {
                saved_[name] = old;
            }
            ::unsetenv(name);
        }
        for (const auto& [name, value] : values) {
            ::setenv(name.c_str(), value.c_str(), 1);
        }
    }
    ~LocaleEnvironment() {
        for (const char* name : names) {
            ::unsetenv(name);
        }
        for (const auto& [name, value] : saved_) {
            ::setenv(name.c_str(), value.c_str(), 1);
        }
    }

private:
    static constexpr const char* names[] = {"LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG"};
    std::map<std::string, std::string> saved_;
};

std::string stringsTable(const std::map<std::string, std::string>& texts) {
    std::string entries;
    for (const auto& [key, text] : texts) {
        entries += "<key>" + key + "</key><string>" + text + "</string>";
    }
    return velmor::testing::infoPlistText(entries);
}

TEST(Bundle, PreferredLanguagesComeInGettextOrder) {
    struct Case {
        std::map<std::string, std::string> environment;
        std::vector<std::string> languages;
    };
    const Case cases[] = {
        {{}, {}},
        {{{"LANG", "de_DE.UTF-8"}}, {"de_DE", "de"}},
        {{{"LANG", "de_AT.UTF-8@euro"}}, {"de_AT", "de"}},
        {{{"LC_ALL", "C.UTF-8"}, {"LANG", "de_DE"}}, {}},
        {{{"LC_MESSAGES", "fr_FR"}, {"LANG", "de_DE"}}, {"fr_FR", "fr"}},
        {{{"LANGUAGE", "pt_BR:fr::de"}, {"LANG", "fr_CA.UTF-8"}}, {"pt_BR", "pt", "fr", "de", "fr_CA"}},
        {{{"LANGUAGE", "../../etc/x:POSIX"}, {"LANG", "en_GB"}}, {"en_GB", "en"}},
    };
    for (const auto& c : cases) {
        LocaleEnvironment environment(c.environment);
        EXPECT_EQ(preferredLanguages(), c.languages) << ::testing::PrintToString(c.environment);
    }
}

TEST(Bundle, LocalizedStringsFollowTheUsersLanguagesThenTheDevelopmentRegion) {
    velmor::testing::TemporaryDirectory dir;
    writeInfoPlist(dir, "<key>CFBundleDevelopmentRegion</key><string>en</string>");
    dir.writeFile("Resources/en.lproj/Localizable.strings",
                  stringsTable({{"Greeting", "Hello"}, {"OnlyEnglish", "English"}}));
    dir.writeFile("Resources/de.lproj/Localizable.strings", stringsTable({{"Greeting", "Hallo"}}));
    dir.writeFile("Resources/de_AT.lproj/Localizable.strings", stringsTable({{"Greeting", "Servus"}}));
    dir.writeFile("Resources/fr.lproj/Localizable.strings", "not a property list");

    struct Case {
        std::map<std::string, std::string> environment;
        const char* greeting;
        const char* onlyEnglish;
    };
    const Case cases[] = {
        {{}, "Hello", "English"},
        {{{"LANG", "de_DE.UTF-8"}}, "Hallo", "English"},
        {{{"LANG", "de_AT.UTF-8@euro"}}, "Servus", "English"},
        {{{"LC_ALL", "C.UTF-8"}, {"LANG", "de_DE"}}, "Hello", "English"},
        {{{"LANGUAGE", "fr:it:de"}, {"LANG", "en_US"}}, "Hallo", "English"},
    };
    for (const auto& c : cases) {
        LocaleEnvironment environment(c.environment);
        const Bundle bundle(URL::fileURL(dir.path()));
        EXPECT_EQ(bundle.localizedString("Greeting"), c.greeting) << ::testing::PrintToString(c.environment);
        EXPECT_EQ(bundle.localizedString("OnlyEnglish"), c.onlyEnglish);
        EXPECT_EQ(bundle.localizedString("Missing.Key"), "Missing.Key");
    }

    // Without the development region in the information dictionary, English is the last resort.
    LocaleEnvironment none(std::map<std::string, std::string>{{"LANG", "fr_FR"}});
    dir.writeFile("Info.plist", velmor::testing::infoPlistText(""));
    EXPECT_EQ(Bundle(URL::fileURL(dir.path())).localizedString("Greeting"), "Hello");
    writeInfoPlist(dir, "<key>CFBundleDevelopmentRegion</key><string>de</string>");
    EXPECT_EQ(Bundle(URL::fileURL(dir.path())).localizedString("Greeting"), "Hallo");
    EXPECT_EQ(Bundle(URL::fileURL(dir.path())).localizedString("OnlyEnglish"), "OnlyEnglish");
}

TEST(Bundle, AnArgumentGoesInOnceAsItStands) {
    LocaleEnvironment english(std::map<std::string, std::string>{});
    velmor::testing::TemporaryDirectory dir;
    dir.writeFile("Resources/en.lproj/Localizable.strings",
                  stringsTable({{"Selected:%@", "Selected: %@"}, {"Twice:%@", "%@ and %@"}}));
    const Bundle bundle(URL::fileURL(dir.path()));
    EXPECT_EQ(bundle.localizedString("Selected:%@", "1.5 MB"), "Selected: 1.5 MB");
    EXPECT_EQ(bundle.localizedString("Selected:%@", "100% %@ %1 %%"), "Selected: 100% %@ %1 %%");
    EXPECT_EQ(bundle.localizedString("Twice:%@", "x"), "x and %@");
    EXPECT_EQ(bundle.localizedString("Missing:%@", "x"), "Missing:x");
}

} // namespace
} // namespace velmor
