#include "platform/testing/TemporaryDirectory.hpp"
#include "sdk/duplicates/pipeline/URLProperties.hpp"

#include <gtest/gtest.h>

#include <filesystem>

namespace sweepkit::pipeline {
namespace {

using velmor::URL;

TEST(URLProperties, SystemLocationsByWholeComponents) {
    struct Case {
        const char* path;
        bool system;
    };
    const Case cases[] = {
        {"/usr/sbin/tool", true},
        {"/usr/sbin", true},
        {"/usr/sbin/", true},
        {"/usr/sbinx/tool", false},
        {"/usr/local/sbin", false},
        {"/usr/libexec", true},
        {"/usr/libexec/helper/bin", true},
        {"/usr/lib", false},
        {"/System/Library/Frameworks/Kit.framework", true},
        {"/Library/Apple/System/Library/PrivateFrameworks/P.framework", true},
        {"/home/u/usr/sbin/tool", false},
        {"/", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(isSystemLocation(URL::fileURL(c.path)), c.system) << c.path;
    }
}

TEST(URLProperties, IsDirectoryLooksAtTheEntryItself) {
    velmor::testing::TemporaryDirectory directory;
    std::string folder = directory.makeDirectory("folder");
    std::string file = directory.writeFile("file", "x");
    std::filesystem::create_directory_symlink(folder, directory / "link");

    EXPECT_TRUE(isDirectory(URL::fileURL(folder)));
    EXPECT_FALSE(isDirectory(URL::fileURL(file)));
    EXPECT_FALSE(isDirectory(URL::fileURL(directory / "link")));
    EXPECT_FALSE(isDirectory(URL::fileURL(directory / "missing")));
}

} // namespace
} // namespace sweepkit::pipeline
