#include "platform/fs/Package.hpp"
#include "platform/fs/Volume.hpp"

#include "platform/testing/TemporaryDirectory.hpp"

#include <gtest/gtest.h>

namespace velmor {
namespace {

using testing::TemporaryDirectory;

TEST(Package, FoldersWithABundleExtension) {
    TemporaryDirectory tmp;
    tmp.makeDirectory("Tool.app/Contents");
    tmp.makeDirectory("Thing.BUNDLE");
    tmp.makeDirectory(".app");
    tmp.makeDirectory("plain");
    tmp.writeFile("file.app");
    EXPECT_TRUE(isPackage(URL::fileURL(tmp / "Tool.app")));
    EXPECT_TRUE(isPackage(URL::fileURL(tmp / "Thing.BUNDLE")));
    EXPECT_FALSE(isPackage(URL::fileURL(tmp / ".app")));
    EXPECT_FALSE(isPackage(URL::fileURL(tmp / "plain")));
    EXPECT_FALSE(isPackage(URL::fileURL(tmp / "file.app")));
    EXPECT_FALSE(isPackage(URL::fileURL(tmp / "missing.app")));
    for (const char* name : {"a.framework", "a.plugin", "a.kext", "a.appex", "a.xpc"}) {
        EXPECT_TRUE(hasPackageExtension(name)) << name;
    }
    EXPECT_FALSE(hasPackageExtension("a.application"));
}

TEST(Volume, MountPointsAreVolumesAndOrdinaryFoldersAreNot) {
    TemporaryDirectory tmp;
    tmp.makeDirectory("folder");
    EXPECT_TRUE(Volume::isVolume(URL::fileURL("/")));
    EXPECT_TRUE(Volume::isVolume(URL::fileURL("/proc")));
    EXPECT_FALSE(Volume::isVolume(URL::fileURL(tmp / "folder")));
    EXPECT_TRUE(Volume::isDirectory(URL::fileURL(tmp / "folder")));
    EXPECT_FALSE(Volume::isDirectory(URL::fileURL(tmp / "missing")));

    auto rootName = Volume::name(URL::fileURL("/"));
    ASSERT_TRUE(rootName);
    EXPECT_FALSE(rootName->empty());
    EXPECT_FALSE(Volume::name(URL::fileURL(tmp / "folder")));
    EXPECT_EQ(localizedName(URL::fileURL(tmp / "folder")), "folder");
    EXPECT_EQ(localizedName(URL::fileURL("/")), *rootName);

    auto capacity = Volume::capacity(URL::fileURL("/"));
    ASSERT_TRUE(capacity);
    EXPECT_GT(capacity->total, 0u);
    EXPECT_LE(capacity->available, capacity->total);
    EXPECT_FALSE(Volume::capacity(URL::fileURL(tmp / "missing")));
}

} // namespace
} // namespace velmor
