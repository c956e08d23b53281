#include "platform/diskimage/DiskImagePlist.hpp"

#include "platform/coding/PropertyList.hpp"
#include "platform/fs/URL.hpp"

#include <gtest/gtest.h>

namespace velmor::diskimage {
namespace {

using coding::Array;
using coding::Object;
using coding::Value;

// The three lines the property-list serializer writes first; readers of the attach output search
// for them.
const std::string header = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                           "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
                           "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
                           "<plist version=\"1.0\">";

TEST(DiskImagePlistTest, AttachOutputListsEveryEntityWithTheHeaderReadersSearchFor) {
    ASSERT_EQ(header.size(), 163u);
    const std::string xml = attachPropertyList({
        {"/dev/loop4", false, std::nullopt},
        {"/dev/loop4p1", true, std::string("/media/root/My Data")},
    });
    EXPECT_EQ(xml.rfind(header, 0), 0u) << xml;
    const Value root = coding::fromPropertyList(xml);
    const Value expected = Object{{"system-entities",
                                   Array{Object{{"dev-entry", "/dev/loop4"}, {"potentially-mountable", false}},
                                         Object{{"dev-entry", "/dev/loop4p1"},
                                                {"potentially-mountable", true},
                                                {"mount-point", "/media/root/My Data"}}}}};
    EXPECT_EQ(root, expected);
}

TEST(DiskImagePlistTest, InfoOutputListsImagesWithTheirEntities) {
    const Value root = coding::fromPropertyList(infoPropertyList({
        {"/tmp/a.img", {{"/dev/loop0", true, std::string("/media/root/A")}}},
        {"/tmp/b & <c>.img", {}},
    }));
    const Value expected =
        Object{{"images", Array{Object{{"image-path", "/tmp/a.img"},
                                       {"system-entities", Array{Object{{"dev-entry", "/dev/loop0"},
                                                                        {"potentially-mountable", true},
                                                                        {"mount-point", "/media/root/A"}}}}},
                                Object{{"image-path", "/tmp/b & <c>.img"}, {"system-entities", Array{}}}}}};
    EXPECT_EQ(root, expected);
    EXPECT_EQ(coding::fromPropertyList(infoPropertyList({})), (Value(Object{{"images", Array{}}})));
}

// A path XML cannot hold, an image's or a mount point's, is written as its file URL text, which
// reads back to the same bytes; the rest of the output stays as it is.
TEST(DiskImagePlistTest, OutputStaysReadableWhateverBytesAPathHolds) {
    struct Case {
        std::string path;
        bool plain;
    };
    const Case cases[] = {
        {"/tmp/bad\xff\xfename.img", false},
        {"/tmp/ctl\x01\x1b.img", false},
        {"/tmp/carriage\rreturn.img", false},
        {"/tmp/nonchar\xef\xbf\xbe.img", false},
        {"/tmp/bad\xff 100%25 #a?b;c.img", false},
        {"/tmp/plain 100%25 #a?b;c.img", true},
        {"/tmp/caf\xc3\xa9 new\nline\ttab.img", true},
    };
    const auto pathWritten = [](const Value& text, const Case& c) {
        const std::string* written = text.get<std::string>();
        ASSERT_TRUE(written);
        if (c.plain) {
            EXPECT_EQ(*written, c.path);
        } else {
            EXPECT_EQ(written->rfind("file:///tmp/", 0), 0u) << *written;
            EXPECT_EQ(URL::fromAbsoluteString(*written).rawPath(), c.path) << *written;
        }
    };
    const SystemEntity plain{"/dev/loop1", true, "/media/plain"};
    for (const Case& c : cases) {
        const SystemEntity odd{"/dev/loop0", true, c.path};
        const std::string xml =
            infoPropertyList({{"/tmp/first.img", {plain}}, {c.path, {odd}}, {"/tmp/last.img", {}}});
        Value root;
        ASSERT_NO_THROW(root = coding::fromPropertyList(xml)) << xml;
        const Array& images = *root.get<Object>()->find("images")->get<Array>();
        ASSERT_EQ(images.size(), 3u) << xml;
        EXPECT_EQ(*images[0].get<Object>()->find("image-path"), Value("/tmp/first.img"));
        EXPECT_EQ(*images[0].get<Object>()->find("system-entities"),
                  Value(Array{Object{{"dev-entry", "/dev/loop1"}, {"potentially-mountable", true},
                                     {"mount-point", "/media/plain"}}}));
        EXPECT_EQ(*images[2].get<Object>()->find("image-path"), Value("/tmp/last.img"));
        pathWritten(*images[1].get<Object>()->find("image-path"), c);
        const Array& entities = *images[1].get<Object>()->find("system-entities")->get<Array>();
        ASSERT_EQ(entities.size(), 1u) << xml;
        pathWritten(*entities[0].get<Object>()->find("mount-point"), c);

        const std::string attached = attachPropertyList({odd, plain});
        ASSERT_NO_THROW(root = coding::fromPropertyList(attached)) << attached;
        const Array& attachedEntities = *root.get<Object>()->find("system-entities")->get<Array>();
        ASSERT_EQ(attachedEntities.size(), 2u) << attached;
        pathWritten(*attachedEntities[0].get<Object>()->find("mount-point"), c);
        EXPECT_EQ(*attachedEntities[1].get<Object>()->find("mount-point"), Value("/media/plain"));
    }
}

} // namespace
} // namespace velmor::diskimage
